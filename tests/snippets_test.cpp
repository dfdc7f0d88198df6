// The share commands of the context menu: every snippet on the clipboard,
// the upload to the image host (against the stand-in host of
// tests/fixtures/imagehost) and the host's front page.
#include <gtest/gtest.h>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "list/TForm4.h"
#include "platform/shell/shell.h"
#include "settings/TForm3.h"
#include "sharing/imagehost.h"
#include "tests/imagehost_fixture.h"
#include "tests/test_support.h"

using imagehost_fixture::Reply;
using imagehost_fixture::ScopedEnv;
using testing_support::IsolatedEnvironment;
using testing_support::ReadText;
using testing_support::WriteText;
using namespace std::string_literals;

namespace {

constexpr int kEnglish = 0, kFrench = 1, kNoLanguage = -1;

class Snippets : public imagehost_fixture::ProgramWithHost {
protected:
    void SetUp() override
    {
        ProgramWithHost::SetUp();
        if (HasFatalFailure())
            return;
        // Selecting rows here is only how the commands are told what to work
        // on; the preview that a selection starts is tested elsewhere.
        main->ListView1.OnSelectItem = nullptr;
    }

    std::string File(const std::string& name) const { return folder + "/" + name; }

    // The list as the user had it: these rows, in the list file too, with
    // the given rows selected in the given order.
    void Rows(const std::vector<std::string>& rows, const std::vector<int>& selected)
    {
        main->ListView1.Clear();
        for (const auto& row : rows)
            main->AddRow(row);
        main->WriteListFile();
        for (int i : selected)
            main->ListView1.SetSelected(i, true);
    }
    std::vector<std::string> Paths() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < main->ListView1.Count(); ++i)
            out.push_back(main->ListView1.Item(i).SubItems.at(0));
        return out;
    }
    // The boxes shown since `from`, as "text" for plain ones and
    // "error: text" for the standard error box.
    std::vector<std::string> Boxes(size_t from = 0) const
    {
        std::vector<std::string> out;
        const auto& shown = program->app.Shown();
        for (size_t i = from; i < shown.size(); ++i)
            if (shown[i].kind == "message")
                out.push_back(((shown[i].flags & ui::MB_ICONSTOP) ? "error: " : "") + shown[i].text);
        return out;
    }
    // A menu pick, as the loop delivers it: an error goes to the error box.
    void Pick(ui::MenuItem& item)
    {
        program->app.Deliver([&] { item.Click(); });
    }
    void Language(int index) { program->Form3->ComboBox2.SetItemIndex(index); }
};

// ---- Snippets --------------------------------------------------------------------

const std::string kHosted = "http://img1.host.example/img1/42/pic.jpg";
const std::string kLocal = "/home/user/My Pictures/holiday.bmp";

struct SnippetCase {
    const char* item;
    std::string hosted;   // the snippet for kHosted
    std::string local;    // for kLocal
};

const SnippetCase kSnippets[] = {
    {"Copylink1", kHosted, kLocal},
    {"Copyforforum1", "[url=http://www.vintrel.example/][img]" + kHosted + "[/img][/url]",
     "[url=http://www.vintrel.example/][img]" + kLocal + "[/img][/url]"},
    {"Copyforwebsite1", "<img alt=\"Use vintrel http://www.vintrel.example/\" src=\"" + kHosted + "\">",
     "<img alt=\"Use vintrel http://www.vintrel.example/\" src=\"" + kLocal + "\">"},
    {"forWebsites1",
     "<a href=\"http://img1.host.example/img1/42/pic.jpg\" target=\"_blank\"><img "
     "src=\"http://img1.host.example/img1/42/pic.th.jpg\" border=\"0\" alt=\"Hosted at ImageShack.us and pasted "
     "with www.vintrel.example/\" /></a>",
     "<a href=\"/home/user/My Pictures/holiday.bmp\" target=\"_blank\"><img src=\"/home/user/My "
     "Pictures/holiday.th.bmp\" border=\"0\" alt=\"Hosted at ImageShack.us and pasted with www.vintrel.example/\" "
     "/></a>"},
    {"forforums1",
     "[URL=http://img1.host.example/img1/42/pic.jpg][IMG]http://img1.host.example/img1/42/pic.th.jpg[/IMG][/URL]",
     "[URL=/home/user/My Pictures/holiday.bmp][IMG]/home/user/My Pictures/holiday.th.bmp[/IMG][/URL]"},
    {"Forforums21",
     "[url=http://img1.host.example/img1/42/pic.jpg][img=http://img1.host.example/img1/42/pic.th.jpg][/url]",
     "[url=/home/user/My Pictures/holiday.bmp][img=/home/user/My Pictures/holiday.th.bmp][/url]"},
};

TEST_F(Snippets, EveryCopyCommandPutsTheSelectedRowsSnippetsOnTheClipboard)
{
    const std::string other = "http://example.com/not-selected.jpg";
    for (const SnippetCase& c : kSnippets) {
        SCOPED_TRACE(c.item);
        ui::MenuItem& item = *main->PopupMenu1.Find(c.item);

        // One row: its snippet alone, whatever the clipboard held.
        Rows({kHosted, other, kLocal}, {2});
        program->app.SetClipboardText("held before");
        Pick(item);
        EXPECT_EQ(program->app.ClipboardText(), c.local);

        // Two rows, the lower one picked first: list order, CR LF between,
        // none after.
        Rows({kHosted, other, kLocal}, {2, 0});
        Pick(item);
        EXPECT_EQ(program->app.ClipboardText(), c.hosted + "\r\n" + c.local);

        // Nothing selected: the clipboard stays as it was.
        Rows({kHosted, other, kLocal}, {});
        program->app.SetClipboardText("held before");
        Pick(item);
        EXPECT_EQ(program->app.ClipboardText(), "held before");
    }
    EXPECT_EQ(Boxes(), std::vector<std::string>{});
    EXPECT_EQ(Paths(), (std::vector<std::string>{kHosted, other, kLocal}));
}

TEST_F(Snippets, ThumbnailGoesBeforeTheLastFourCharacters)
{
    const std::pair<std::string, std::string> cases[] = {
        {"http://h.example/a/b.jpg", "http://h.example/a/b.th.jpg"},
        {"http://h.example/a/b.jpeg", "http://h.example/a/b..thjpeg"},   // two dots together
        {"http://h.example/a/b.JPG", "http://h.example/a/b.th.JPG"},
        {"http://h.example/a/pic", "http://h.example/a.th/pic"},
        {"http://h.example/b.jpg?x=1", "http://h.example/b.jpg.th?x=1"},
        {"abcd", ".thabcd"},
        {"abc", ".thabc"},
        {"a", ".tha"},
    };
    for (const auto& [address, thumbnail] : cases) {
        Rows({address}, {0});
        Pick(main->forforums1);
        EXPECT_EQ(program->app.ClipboardText(), "[URL=" + address + "][IMG]" + thumbnail + "[/IMG][/URL]");
    }
}

TEST_F(Snippets, ThreeRowsJoinedInListOrder)
{
    Rows({"http://h.example/1.jpg", "http://h.example/2.jpg", "http://h.example/3.jpg", "/tmp/4.jpg"},
         {3, 1, 0});
    Pick(main->Copylink1);
    EXPECT_EQ(program->app.ClipboardText(), "http://h.example/1.jpg\r\nhttp://h.example/2.jpg\r\n/tmp/4.jpg");
    Pick(main->Forforums21);
    EXPECT_EQ(program->app.ClipboardText(),
              "[url=http://h.example/1.jpg][img=http://h.example/1.th.jpg][/url]\r\n"
              "[url=http://h.example/2.jpg][img=http://h.example/2.th.jpg][/url]\r\n"
              "[url=/tmp/4.jpg][img=/tmp/4.th.jpg][/url]");
}

// ---- The upload command --------------------------------------------------------

TEST_F(Snippets, UploadWithNothingSelectedOnlySaysDone)
{
    const std::pair<int, std::vector<std::string>> cases[] = {
        {kEnglish, {"Done !"}},
        {kFrench, {"Fait !"}},
        {kNoLanguage, {}},
    };
    for (const auto& [language, boxes] : cases) {
        SCOPED_TRACE(language);
        Rows({"http://example.com/a.jpg", File("b.jpg")}, {});
        const std::string listFile = ReadText(File("files.ini"));
        program->app.SetClipboardText("held before");
        const std::string edit = program->Form4->Edit1.Text();
        Language(language);
        const size_t before = program->app.Shown().size();

        Pick(main->Upload1);

        EXPECT_EQ(Boxes(before), boxes);
        EXPECT_EQ(program->app.ClipboardText(), "held before");
        EXPECT_EQ(Paths(), (std::vector<std::string>{"http://example.com/a.jpg", File("b.jpg")}));
        EXPECT_EQ(ReadText(File("files.ini")), listFile);
        EXPECT_EQ(program->Form4->Edit1.Text(), edit);
    }
    EXPECT_TRUE(server->Received().empty());
}

TEST_F(Snippets, UploadSendsLocalFilesAndTransloadsWebAddressesThenAddsWhatTheHostGives)
{
    const std::string local = File("shot.bmp");
    WriteText(local, "BM\x00\x01\r\n"s);
    const std::string web = "http://example.com/pics/cat.gif";
    const std::string unselected = "http://example.com/unselected.jpg";

    for (const auto& [language, done] : {std::pair{kEnglish, "Done !"}, std::pair{kFrench, "Fait !"}}) {
        SCOPED_TRACE(done);
        server->Reset();
        const std::string link1 = server->Url("/img1/7/shot.jpg");
        const std::string link2 = server->Url("/img2/8/cat.gif");
        server->QueueLink(link1);
        server->QueueLink(link2);
        Rows({local, unselected, web}, {2, 0});
        Language(language);
        program->app.SetClipboardText("held before");
        const size_t before = program->app.Shown().size();

        Pick(main->Upload1);

        auto got = server->Received();
        ASSERT_EQ(got.size(), 2u);   // the rows it added are not sent again
        EXPECT_EQ(got[0].path, "/index.php");
        ASSERT_EQ(got[0].parts.size(), 2u);
        EXPECT_EQ(got[0].parts[0].fileName, local);
        EXPECT_EQ(got[0].parts[0].content, "BM\x00\x01\r\n"s);
        EXPECT_EQ(got[1].path, "/transload.php");
        ASSERT_EQ(got[1].parts.size(), 2u);
        EXPECT_EQ(got[1].parts[0].name, "url");
        EXPECT_EQ(got[1].parts[0].content, web);

        const std::vector<std::string> rows{local, unselected, web, link1, link2};
        EXPECT_EQ(Paths(), rows);
        EXPECT_EQ(main->ListView1.Item(3).Caption, "shot.jpg");
        EXPECT_EQ(main->ListView1.Item(4).Caption, "cat.gif");
        EXPECT_EQ(ReadText(File("files.ini")), local + "\r\n" + unselected + "\r\n" + web + "\r\n" + link1 +
                                                   "\r\n" + link2 + "\r\n");
        EXPECT_EQ(program->app.ClipboardText(), "");
        EXPECT_EQ(program->Form4->Edit1.Text(), link2);
        EXPECT_EQ(Boxes(before), std::vector<std::string>{done});
    }
}

TEST_F(Snippets, UploadFailures)
{
    const std::string local = File("shot.jpg");
    WriteText(local, "\xff\xd8\xff\xe0");
    const std::string web = "http://example.com/pics/cat.jpg";
    const std::string L1 = "http://h.example/1.jpg", L2 = "http://h.example/2.jpg";
    const auto xml = [](const std::string& link) { return Reply{.body = imagehost_fixture::XmlReply(link)}; };
    const std::string cannotReach = "error: cannot reach http://";
    enum Host { Up, Closed };

    struct Case {
        const char* what;
        std::vector<std::string> rows;   // all selected
        std::vector<Reply> replies;
        Host host;
        size_t requests;
        std::vector<std::string> added;
        std::vector<std::string> boxes;   // a box ending in "..." is matched up to there
    };
    const Case cases[] = {
        {"refused", {local, web}, {}, Closed, 0, {}, {cannotReach + "..."}},
        {"first: redirect", {local, web}, {{.status = 302, .location = "http://h.example/"}}, Up, 1, {},
         {"error: HTTP/1.0 302 Found"}},
        {"first: 500", {local, web}, {{.status = 500}}, Up, 1, {}, {"error: HTTP/1.0 500 Internal Server Error"}},
        {"second: 404", {local, web}, {xml(L1), {.status = 404}}, Up, 2, {L1}, {"error: HTTP/1.0 404 Not Found"}},
        {"second: closed mid-reply", {local, web}, {xml(L1), {.kind = "cut", .body = "<image_link>" + L2}}, Up, 2,
         {L1}, {cannotReach + "..."}},
        {"first: closed without a reply", {local, web}, {{.kind = "drop"}}, Up, 1, {}, {cannotReach + "..."}},
        {"first: garbage", {local, web}, {{.body = "\x00\xff<html>oops"s}, xml(L2)}, Up, 2, {L2},
         {"An url starts with http://", "Done !"}},
        {"first: no image_link", {local, web}, {{.body = "<imginfo><error>Bad file</error></imginfo>"}, xml(L2)},
         Up, 2, {L2}, {"An url starts with http://", "Done !"}},
        {"first: not an http address", {local, web}, {xml("https://h.example/1.jpg"), xml(L2)}, Up, 2, {L2},
         {"Done !"}},
        // Taken for a local path, which it is not: nothing goes out.
        {"an https row", {"https://example.com/x.jpg", web}, {}, Up, 0, {},
         {"error: cannot open https://example.com/x.jpg: No such file or directory"}},
        {"a missing file", {File("gone.jpg"), web}, {}, Up, 0, {},
         {"error: cannot open " + File("gone.jpg") + ": No such file or directory"}},
    };
    const std::string unselected = "http://example.com/unselected.jpg";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server->Reset();
        for (const Reply& r : c.replies)
            server->Queue(r);
        std::vector<std::string> rows = c.rows;
        rows.push_back(unselected);
        Rows(rows, {0, 1});
        program->app.SetClipboardText("held before");
        const size_t before = program->app.Shown().size();
        {
            std::optional<ScopedEnv> closed;
            if (c.host == Closed)
                closed.emplace("VINTREL_IMAGEHOST_HOST",
                               "127.0.0.1:" + std::to_string(imagehost_fixture::ClosedPort()));
            Pick(main->Upload1);
        }

        EXPECT_EQ(server->Received().size(), c.requests);
        std::vector<std::string> expected = rows;
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(Paths(), expected);
        std::string listFile;
        for (const auto& row : expected)
            listFile += row + "\r\n";
        EXPECT_EQ(ReadText(File("files.ini")), listFile);
        EXPECT_EQ(program->app.ClipboardText(), "");

        const auto boxes = Boxes(before);
        ASSERT_EQ(boxes.size(), c.boxes.size()) << ::testing::PrintToString(boxes);
        for (size_t i = 0; i < boxes.size(); ++i) {
            const std::string& want = c.boxes[i];
            if (want.ends_with("..."))
                EXPECT_TRUE(boxes[i].starts_with(want.substr(0, want.size() - 3))) << boxes[i];
            else
                EXPECT_EQ(boxes[i], want);
        }
    }
}

// ---- The host's website --------------------------------------------------------

TEST_F(Snippets, OpenImageHostWebsiteOpensItsFrontPage)
{
    shell::SetStartingEnabled(false);
    shell::ClearRecordedCalls();
    Pick(main->Openimagehostwebsite1);
    const auto calls = shell::RecordedCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, "open");
    EXPECT_EQ(calls[0].file, "http://" + server->Host() + "/");
    EXPECT_EQ(calls[0].show, shell::SW_SHOWNORMAL);
    EXPECT_EQ(Boxes(), std::vector<std::string>{});
}

} // namespace
