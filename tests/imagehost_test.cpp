// The image host client: the element taken from a reply, and the upload and
// transload requests as the stand-in host (tests/fixtures/imagehost) parsed
// them, with every way a transfer can go wrong.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "platform/sys/files.h"
#include "sharing/imagehost.h"
#include "tests/imagehost_fixture.h"
#include "tests/test_support.h"

using imagehost_fixture::Reply;
using imagehost_fixture::Request;
using imagehost_fixture::ScopedEnv;
using testing_support::IsolatedEnvironment;
using testing_support::WriteText;
using namespace std::string_literals;

namespace {

TEST(ImageHostXml, ElementTextAsTheHostWroteIt)
{
    struct Case {
        const char* what;
        std::string reply;
        std::string element;
        std::string expected;
    };
    const Case cases[] = {
        {"once, spaces and line breaks kept", "<a><image_link> http://h/x.jpg\r\n</image_link></a>", "image_link",
         " http://h/x.jpg\r\n"},
        {"twice: the first", "<image_link>one</image_link><image_link>two</image_link>", "image_link", "one"},
        {"another element", "<done>yes</done><image_link>x</image_link>", "done", "yes"},
        {"empty element", "<image_link></image_link>", "image_link", ""},
        {"closing tag missing", "<image_link>http://h/x.jpg", "image_link", ""},
        {"empty reply", "", "image_link", ""},
        {"neither tag", "<html><body>Sorry</body></html>", "image_link", ""},
        {"first closing tag before the opening one", "</image_link><image_link>x</image_link>", "image_link", ""},
        {"capitals are another element", "<IMAGE_LINK>x</IMAGE_LINK>", "image_link", ""},
        {"entities stay as written", "<image_link>a&amp;b&#233;</image_link>", "image_link", "a&amp;b&#233;"},
        {"8-bit text stays as it came", "<image_link>caf\xe9\x00\xff</image_link>"s, "image_link",
         "caf\xe9\x00\xff"s},
        {"the opening tag's end is the element's start", "<image_link>><</image_link>", "image_link", "><"},
        // No opening tag: the text before a lone closing tag, or behind a tag
        // with attributes, is no element's text.
        {"closing tag only", "http://h/not-an-answer.jpg</image_link>", "image_link", ""},
        {"tag with attributes", "<image_link type=\"full\">http://h/x.jpg</image_link>", "image_link", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TvinForm1::getfromstrxml(c.reply, c.element), c.expected) << c.what;
}

// ---- Requests to the stand-in host --------------------------------------------

class ImageHostClient : public imagehost_fixture::ProgramWithHost {
protected:
    // What every post to the host carries besides its parts.
    static void ExpectPost(const Request& r, const std::string& path)
    {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, path);
        EXPECT_EQ(r.version, "HTTP/1.0");
        EXPECT_EQ(r.userAgent, "Mozilla/3.0 (compatible; Indy Library)");
        EXPECT_EQ(r.accept, "text/html, */*");
        ASSERT_TRUE(r.contentType);
        EXPECT_TRUE(r.contentType->starts_with("multipart/form-data; boundary=")) << *r.contentType;
        EXPECT_EQ(r.invalid, "");
    }

    // Runs the upload (a local path) or the transload (a web address) and
    // gives what it returned, or the message of what it threw as "error: ...".
    std::string Send(bool upload, const std::string& what)
    {
        try {
            return upload ? main->upfiletoimageshack(what) : main->transloadtoimageshack(what);
        } catch (const net::HttpError& e) {
            return std::string("error: ") + e.what();
        }
    }
};

TEST_F(ImageHostClient, UploadSendsTheFileAsAJpegUnderItsFullPath)
{
    // Bytes that trip careless framing: line ends, a NUL, a boundary-like
    // run, a line end at the very end.
    const std::string bytes = "\r\n--\r\n\x00\xff--boundary\r\n\r\n"s;
    struct Case {
        std::string file;
        std::string content;
    };
    const Case cases[] = {
        {"shot.bmp", "BM" + bytes},
        {"anim.gif", "GIF89a" + bytes},
        {"photo.jpg", "\xff\xd8\xff\xe0" + bytes},
        {"My Pictures/été 2024.jpeg", "\xff\xd8" + bytes},
        {"no extension", ""},
    };
    sys::MakeDirectories(folder + "/My Pictures", 0755);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = folder + "/" + c.file;
        WriteText(path, c.content);
        const std::string link = server->Url("/img/" + std::to_string(++n) + "/x.jpg");
        server->Reset();
        server->QueueLink(link);

        EXPECT_EQ(Send(true, path), link);

        auto got = server->Received();
        ASSERT_EQ(got.size(), 1u);
        ExpectPost(got[0], "/index.php");
        ASSERT_EQ(got[0].parts.size(), 2u);
        const auto& file = got[0].parts[0];
        EXPECT_EQ(file.name, "fileupload");
        EXPECT_EQ(file.fileName, path);
        EXPECT_EQ(file.contentType, "image/pjpeg");
        EXPECT_EQ(file.content, c.content);
        const auto& xml = got[0].parts[1];
        EXPECT_EQ(xml.name, "xml");
        EXPECT_EQ(xml.fileName, std::nullopt);
        EXPECT_EQ(xml.contentType, std::nullopt);
        EXPECT_EQ(xml.content, "yes");
    }
}

TEST_F(ImageHostClient, TransloadSendsTheAddressUnchanged)
{
    const std::string addresses[] = {
        "http://example.com/pics/cat.jpg",
        "HTTP://Example.COM/A%20B.GIF?size=big&x=1",
        "http://example.com/a b/été.jpg#part",
        "http://example.com/\"quoted\"\r\n--x",
    };
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        server->Reset();
        server->QueueLink("http://h/t.jpg");

        EXPECT_EQ(Send(false, address), "http://h/t.jpg");

        auto got = server->Received();
        ASSERT_EQ(got.size(), 1u);
        ExpectPost(got[0], "/transload.php");
        ASSERT_EQ(got[0].parts.size(), 2u);
        EXPECT_EQ(got[0].parts[0].name, "url");
        EXPECT_EQ(got[0].parts[0].content, address);
        EXPECT_EQ(got[0].parts[0].fileName, std::nullopt);
        EXPECT_EQ(got[0].parts[0].contentType, std::nullopt);
        EXPECT_EQ(got[0].parts[1].name, "xml");
        EXPECT_EQ(got[0].parts[1].content, "yes");
        EXPECT_EQ(got[0].parts[1].contentType, std::nullopt);
    }
}

TEST_F(ImageHostClient, RepliesWithoutTheElementGiveEmptyText)
{
    const std::string path = folder + "/pic.jpg";
    WriteText(path, "\xff\xd8");
    const Reply replies[] = {
        {.body = "<?xml version=\"1.0\"?><imginfo><error>Wrong file type</error></imginfo>"},
        {.body = "\x00\xff garbage <image_link"s},
        {.body = "<html><body><img src=\"http://h/x.jpg\"></body></html>"},
        {.body = "<IMAGE_LINK>http://h/x.jpg</IMAGE_LINK>"},
        {.body = "http://h/x.jpg</image_link>"},
        {.status = 204},
    };
    for (bool upload : {true, false}) {
        for (const Reply& r : replies) {
            SCOPED_TRACE((upload ? "upload " : "transload ") + r.body);
            server->Queue(r);
            EXPECT_EQ(Send(upload, upload ? path : "http://example.com/x.jpg"), "");
        }
    }
}

TEST_F(ImageHostClient, FailuresReachTheCaller)
{
    const std::string path = folder + "/pic.jpg";
    WriteText(path, "\xff\xd8");
    struct Case {
        Reply reply;
        std::string expected;   // the error's message, or what it starts with ("cannot reach ...")
    };
    const Case cases[] = {
        {{.status = 302, .location = "http://elsewhere.example/"}, "error: HTTP/1.0 302 Found"},
        {{.status = 200, .body = "<image_link>http://h/x.jpg</image_link>", .location = "/moved"},
         "error: HTTP/1.0 200 OK"},
        {{.status = 404}, "error: HTTP/1.0 404 Not Found"},
        {{.status = 500, .body = "<image_link>http://h/x.jpg</image_link>"},
         "error: HTTP/1.0 500 Internal Server Error"},
        {{.kind = "cut", .body = "<image_link>http://h/x.jpg</image_link>"}, "error: cannot reach "},
        {{.kind = "drop"}, "error: cannot reach "},
    };
    for (bool upload : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(upload ? "upload " : "transload ") + c.expected);
            server->Queue(c.reply);
            const std::string got = Send(upload, upload ? path : "http://example.com/x.jpg");
            EXPECT_TRUE(got.starts_with(c.expected)) << got;
            if (c.expected == "error: cannot reach ") {
                EXPECT_NE(got.find(upload ? "/index.php" : "/transload.php"), std::string::npos) << got;
            }
        }
    }
    EXPECT_EQ(server->Received().size(), 2 * std::size(cases));

    // Nobody listening.
    ScopedEnv closed("VINTREL_IMAGEHOST_HOST", "127.0.0.1:" + std::to_string(imagehost_fixture::ClosedPort()));
    for (bool upload : {true, false}) {
        const std::string got = Send(upload, upload ? path : "http://example.com/x.jpg");
        EXPECT_TRUE(got.starts_with("error: cannot reach http://127.0.0.1:")) << got;
    }
}

TEST_F(ImageHostClient, AFileThatCannotBeReadSendsNothing)
{
    const std::string readable = folder + "/pic.jpg";
    WriteText(readable, "\xff\xd8");
    const std::string locked = folder + "/locked.jpg";
    WriteText(locked, "\xff\xd8");
    ::chmod(locked.c_str(), 0);
    sys::MakeDirectories(folder + "/folder.jpg", 0755);

    struct Case {
        std::string path;
        std::string why;
    };
    std::vector<Case> cases = {
        {folder + "/missing.jpg", "No such file or directory"},
        {folder + "/folder.jpg", "Is a directory"},
        {"", "No such file or directory"},
        // The entry names a file that does not exist, though its part up to
        // the NUL does.
        {readable + "\0.txt"s, "No such file or directory"},
        {"https://example.com/x.jpg", "No such file or directory"},
    };
    if (::geteuid() != 0)   // root reads it all the same
        cases.push_back({locked, "Permission denied"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            main->upfiletoimageshack(c.path);
            ADD_FAILURE() << "no error";
        } catch (const sys::Error& e) {
            std::string shown = c.path;   // a NUL shows as "?"
            std::replace(shown.begin(), shown.end(), '\0', '?');
            EXPECT_EQ(std::string(e.what()), "cannot open " + shown + ": " + c.why);
        }
    }
    EXPECT_TRUE(server->Received().empty());
}

} // namespace
