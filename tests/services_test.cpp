// The reference services (tools/vintrel-services.cpp), a real server process
// driven with curl: each service's replies, what the record keeps, the test
// hooks, and that it stays on the loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

using namespace std::string_literals;
using testing_support::Child;
using testing_support::ReadText;
using testing_support::Run;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

const std::string kServer = VINTREL_PROGRAM_DIR "/vintrel-services";
const std::string kListening = "vintrel-services listening on 127.0.0.1:";
const std::string kMarker = "input type=\"hidden\" name=\"file\" value=\"";
const std::string kUploadPath = "/download/?form=1&resize=0&dsplogo=1";
const std::string kStorePath = "/content/lumarok/tmp/";
const std::string kAgent = "Mozilla/3.0 (compatible; Indy Library)";

// A picture as far as the services care: JPEG's first bytes, zero bytes inside.
const std::string kPicture = "\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x01 picture \0\0 bytes \xff\xd9"s;

struct Reply {
    int exit = -1;   // curl's exit status
    int status = 0;
    std::string head;
    std::string body;

    std::string Header(const std::string& name) const
    {
        std::istringstream lines(head);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            auto colon = line.find(':');
            if (colon == std::string::npos || colon != name.size())
                continue;
            if (std::equal(name.begin(), name.end(), line.begin(),
                           [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
                return line.substr(line.find_first_not_of(' ', colon + 1));
        }
        return {};
    }
};

// curl with `args`; the reply's head and body, past any "100 Continue".
Reply Curl(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"/usr/bin/curl", "-s", "-i", "--max-time", "20"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto run = Run(argv);
    Reply reply;
    reply.exit = run.status;
    std::string out = run.out;
    for (;;) {
        auto end = out.find("\r\n\r\n");
        if (out.rfind("HTTP/", 0) != 0 || end == std::string::npos) {
            reply.body = out;
            return reply;
        }
        reply.head = out.substr(0, end);
        reply.body = out.substr(end + 4);
        reply.status = std::stoi(out.substr(out.find(' ') + 1, 3));
        if (reply.status >= 200)
            return reply;
        out = reply.body;
    }
}

std::string Between(const std::string& text, const std::string& open, const std::string& close)
{
    auto start = text.find(open);
    if (start == std::string::npos)
        return {};
    start += open.size();
    auto end = text.find(close, start);
    return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Files(const std::string& folder)
{
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// A running server on a free port with a data folder of its own.
struct Server {
    TempDir data;
    Child child;
    std::string base;

    explicit Server(std::vector<std::string> extra = {})
        : child([&] {
              std::vector<std::string> argv = {kServer, "--port", "0", "--data", data.path(), "--stdin-ends"};
              argv.insert(argv.end(), extra.begin(), extra.end());
              return argv;
          }())
    {
        std::string line = child.ReadLine();
        EXPECT_EQ(line.rfind(kListening, 0), 0u) << line;
        base = "http://127.0.0.1:" + (line.rfind(kListening, 0) == 0 ? line.substr(kListening.size()) : "1");
    }

    std::string Port() const { return base.substr(base.rfind(':') + 1); }
    std::string Url(const std::string& path) const { return base + path; }

    std::vector<std::string> Records() const { return Lines(ReadText(data.file("requests.jsonl"))); }
    // The last record of a request to `path`.
    std::string RecordOf(const std::string& path) const
    {
        auto lines = Records();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->find("\"path\":\"" + path + "\"") != std::string::npos)
                return *it;
        return {};
    }
};

struct ServicesTest : ::testing::Test {
    TempDir files;
    Server server;

    std::string PictureFile(const std::string& bytes = kPicture)
    {
        std::string path = files.file("picture.jpg");
        WriteText(path, bytes);
        return path;
    }

    // An upload as the program sends it: HTTP/1.0, its user agent and Accept
    // header, the four parts in order.
    Reply UploadToConverter(const std::string& file, const std::string& fileName)
    {
        return Curl({"-0", "-A", kAgent, "-H", "Accept: text/html, */*", "-F", "form=1", "-F", "resize=", "-F",
                     "lang=en", "-F", "photo=@" + file + ";type=image/pjpeg;filename=" + fileName,
                     server.Url(kUploadPath)});
    }

    Reply UploadToImageHost(const std::string& file, const std::string& fileName, bool xml = true)
    {
        std::vector<std::string> args = {"-0", "-A", kAgent, "-F",
                                         "fileupload=@" + file + ";type=image/pjpeg;filename=" + fileName};
        if (xml)
            args.insert(args.end(), {"-F", "xml=yes"});
        args.push_back(server.Url("/index.php"));
        return Curl(args);
    }

    Reply Transload(const std::string& address)
    {
        return Curl({"-0", "-A", kAgent, "--form-string", "url=" + address, "-F", "xml=yes",
                     server.Url("/transload.php")});
    }
};

} // namespace

// ---- the process ------------------------------------------------------------------

TEST_F(ServicesTest, ListensOnTheLoopbackOnly)
{
    char port[8];
    std::snprintf(port, sizeof port, ":%04X", std::stoi(server.Port()));
    std::vector<std::string> listening;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(ReadText(table));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == port)
                listening.push_back(local);
        }
    }
    EXPECT_EQ(listening, std::vector<std::string>{"0100007F"s + port});

    // The machine's other addresses refuse the port.
    ifaddrs* list = nullptr;
    ASSERT_EQ(::getifaddrs(&list), 0);
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        auto* in = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
        if ((ntohl(in->sin_addr.s_addr) >> 24) == 127)
            continue;
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        Reply r = Curl({"--connect-timeout", "3", "http://"s + text + ":" + server.Port() + "/"});
        EXPECT_EQ(r.exit, 7) << text;   // could not connect
    }
    ::freeifaddrs(list);
}

TEST(ServicesProcess, EndsOnSignalsAndOnTheEndOfStdin)
{
    struct Case {
        const char* how;
        int signal;   // 0: close stdin
    };
    for (const Case& c : {Case{"SIGTERM", SIGTERM}, Case{"SIGINT", SIGINT}, Case{"stdin closed", 0}}) {
        SCOPED_TRACE(c.how);
        Server server;
        ASSERT_EQ(Curl({server.Url("/")}).status, 200);
        if (c.signal)
            server.child.Kill(c.signal);
        else
            server.child.CloseStdin();
        EXPECT_EQ(server.child.Wait(5000), 0);
    }
}

TEST(ServicesProcess, StdinMattersOnlyWhenAsked)
{
    TempDir data;
    Child child({kServer, "--port", "0", "--data", data.path()});
    std::string line = child.ReadLine();
    ASSERT_EQ(line.rfind(kListening, 0), 0u) << line;
    child.CloseStdin();
    EXPECT_EQ(Curl({"http://127.0.0.1:" + line.substr(kListening.size()) + "/"}).status, 200);
    EXPECT_EQ(child.Wait(200), -1);   // still running
    child.Kill(SIGTERM);
    EXPECT_EQ(child.Wait(5000), 0);
}

TEST(ServicesProcess, RefusesABadCommandLineAndAPortInUse)
{
    TempDir data;
    const std::string d = data.path();
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    Server running;
    const Case cases[] = {
        {{}, 2},
        {{"--port", "0"}, 2},
        {{"--data", d}, 2},
        {{"--port", "x", "--data", d}, 2},
        {{"--port", "70000", "--data", d}, 2},
        {{"--port", "0", "--data", d, "--fault", "/index.php"}, 2},
        {{"--port", "0", "--data", d, "--fault", "/index.php=explode"}, 2},
        {{"--port", "0", "--data", d, "--what"}, 2},
        // Another copy on a port in use fails instead of sharing it.
        {{"--port", running.Port(), "--data", d}, 1},
        {{"--port", "0", "--data", "/proc/no/such/folder"}, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {kServer};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.push_back("--stdin-ends");   // a copy that wrongly starts ends at once
        std::string shown;
        for (auto& a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        EXPECT_EQ(testing_support::Run(argv).status, c.status);
    }
}

// ---- conversion service and upload store -------------------------------------------

TEST_F(ServicesTest, UploadAnswerCarriesTheTokenOfTheStoredPicture)
{
    const std::string fileName = "/home/user/My Pictures/holiday.jpg";
    Reply r = UploadToConverter(PictureFile(), fileName);
    ASSERT_EQ(r.exit, 0);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body.find('\0'), std::string::npos);   // read as text up to a zero byte

    // The token: the 36 characters right after the first marker, closed by the
    // attribute's quote.
    auto at = r.body.find(kMarker);
    ASSERT_NE(at, std::string::npos) << r.body;
    std::string token = r.body.substr(at + kMarker.size(), 36);
    EXPECT_EQ(r.body.substr(at + kMarker.size() + 36, 1), "\"");
    ASSERT_EQ(token.size(), 36u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), 32u) << token;
    EXPECT_EQ(token.substr(32), ".jpg");
    EXPECT_NE(r.Header("Set-Cookie").find("convsid="), std::string::npos);

    // The upload store serves it byte for byte.
    Reply stored = Curl({server.Url(kStorePath + token)});
    EXPECT_EQ(stored.status, 200);
    EXPECT_EQ(stored.Header("Content-Type"), "image/jpeg");
    EXPECT_EQ(stored.body, kPicture);
    EXPECT_EQ(Files(server.data.file("store")), std::vector<std::string>{token});

    // The page the program opens next shows it with the delivery form.
    const std::string address = server.Url(kStorePath + token);
    Reply page = Curl({server.Url("/download/?url=" + address)});
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<img src=\"" + address + "\""), std::string::npos) << page.body;
    EXPECT_NE(page.body.find("name=\"phoneNumber\""), std::string::npos);

    std::string record = server.Records().at(0);
    EXPECT_NE(record.find("\"method\":\"POST\",\"path\":\"/download/\",\"query\":\"form=1&resize=0&dsplogo=1\","
                          "\"version\":\"HTTP/1.0\""),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("\"User-Agent\":\"" + kAgent + "\",\"Accept\":\"text/html, */*\""), std::string::npos)
        << record;
    EXPECT_NE(record.find("\"parts\":[{\"name\":\"form\",\"filename\":\"\",\"content_type\":\"\",\"size\":1,\"text\":\"1\"},"
                          "{\"name\":\"resize\",\"filename\":\"\",\"content_type\":\"\",\"size\":0,\"text\":\"\"},"
                          "{\"name\":\"lang\",\"filename\":\"\",\"content_type\":\"\",\"size\":2,\"text\":\"en\"},"
                          "{\"name\":\"photo\",\"filename\":\"" +
                          fileName + "\",\"content_type\":\"image/pjpeg\",\"size\":" +
                          std::to_string(kPicture.size()) + "}]"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("\"status\":200,\"stored\":\"store/" + token + "\"}"), std::string::npos) << record;
}

TEST_F(ServicesTest, UploadWithoutAPictureIsRefused)
{
    Reply r = Curl({"-F", "form=1", "-F", "resize=", "-F", "lang=en", server.Url(kUploadPath)});
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.body.find(kMarker), std::string::npos);
    EXPECT_TRUE(Files(server.data.file("store")).empty());
    // A post to the service that is not its upload form.
    EXPECT_EQ(Curl({"-F", "photo=@" + PictureFile(), server.Url("/download/?url=x")}).status, 400);
}

TEST_F(ServicesTest, StoredPicturesAreNamedByTheirContent)
{
    struct Case {
        std::string bytes, extension, contentType;
    };
    const Case cases[] = {
        {kPicture, "jpg", "image/jpeg"},
        {"\x89PNG\r\n\x1a\n rest"s, "png", "image/png"},
        {"GIF89a rest", "gif", "image/gif"},
        {"BM\x36\0\0\0 rest"s, "bmp", "image/bmp"},
        {"anything else", "jpg", "image/jpeg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension + " " + c.bytes);
        std::string file = PictureFile(c.bytes);

        Reply upload = UploadToConverter(file, file);
        std::string token = Between(upload.body, kMarker, "\"");
        EXPECT_EQ(token.size(), 36u);
        EXPECT_EQ(token.substr(token.size() - 4), "." + c.extension);
        Reply stored = Curl({server.Url(kStorePath + token)});
        EXPECT_EQ(stored.Header("Content-Type"), c.contentType);
        EXPECT_EQ(stored.body, c.bytes);

        std::string link = Between(UploadToImageHost(file, file).body, "<image_link>", "</image_link>");
        EXPECT_EQ(link.substr(link.size() - 4), "." + c.extension);
        Reply hosted = Curl({link});
        EXPECT_EQ(hosted.Header("Content-Type"), c.contentType);
        EXPECT_EQ(hosted.body, c.bytes);
    }
}

TEST_F(ServicesTest, DeliveryPageVariantsHoldThePhoneNumberFields)
{
    const std::string address = server.Url("/img/0123456789ab.jpg");
    struct Case {
        std::string suffix;
        size_t forms, frames;
    };
    for (const Case& c : {Case{"", 1, 0}, Case{"&forms=2", 2, 0}, Case{"&frames=1", 0, 2}}) {
        SCOPED_TRACE(c.suffix);
        Reply page = Curl({server.Url("/download/?url=" + address + c.suffix)});
        ASSERT_EQ(page.status, 200);
        EXPECT_EQ(Count(page.body, "<form method=\"post\" action=\"/deliver\">"), c.forms);
        EXPECT_EQ(Count(page.body, "<input type=\"text\" name=\"phoneNumber\""), c.forms);
        EXPECT_EQ(Count(page.body, "<input type=\"hidden\" name=\"picture\" value=\"" + address + "\">"), c.forms);
        EXPECT_EQ(Count(page.body, "<input type=\"submit\""), c.forms);
        EXPECT_EQ(Count(page.body, "<frame "), c.frames);

        // Each frame is a delivery page of its own.
        for (size_t at = page.body.find("<frame "); at != std::string::npos; at = page.body.find("<frame ", at + 1)) {
            std::string src = Between(page.body.substr(at), "src=\"", "\"");
            for (size_t amp; (amp = src.find("&amp;")) != std::string::npos;)
                src.replace(amp, 5, "&");
            Reply frame = Curl({server.Url(src)});
            EXPECT_EQ(frame.status, 200) << src;
            EXPECT_EQ(Count(frame.body, "name=\"phoneNumber\""), 1u) << src;
            EXPECT_NE(frame.body.find("<img src=\"" + address + "\""), std::string::npos) << src;
        }
    }
}

TEST_F(ServicesTest, DeliveryPageEscapesTheAddressItShows)
{
    Reply page = Curl({server.Url("/download/?url=http://127.0.0.1/a\"b<c>.jpg")});
    EXPECT_NE(page.body.find("<img src=\"http://127.0.0.1/a&quot;b&lt;c&gt;.jpg\""), std::string::npos) << page.body;
    EXPECT_EQ(page.body.find("a\"b"), std::string::npos);
}

TEST_F(ServicesTest, DeliverPutsThePictureInThePhonesOutbox)
{
    struct Case {
        std::string phone;
        int status;
        std::string text;
    };
    const std::string picture = server.Url("/img/0123456789ab.jpg");
    const Case cases[] = {
        {"0612345678", 200, "Sent to the outbox of 0612345678"},
        {"", 400, "Please enter a phone number."},
        {"<b>06 12</b>", 200, "Sent to the outbox of &lt;b&gt;06 12&lt;/b&gt;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone);
        Reply r = Curl({"--data-urlencode", "phoneNumber=" + c.phone, "--data-urlencode", "picture=" + picture,
                        server.Url("/deliver")});
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.body.find(c.text), std::string::npos) << r.body;
    }
    Reply outbox = Curl({server.Url("/outbox")});
    EXPECT_EQ(outbox.body, ReadText(server.data.file("outbox.jsonl")));
    std::vector<std::string> entries;
    for (const std::string& line : Lines(outbox.body))
        entries.push_back(line.substr(0, line.find(",\"time\"")) + line.substr(line.find(",\"phone\"")));
    EXPECT_EQ(entries, (std::vector<std::string>{
                           "{\"n\":1,\"phone\":\"0612345678\",\"picture\":\"" + picture + "\"}",
                           "{\"n\":2,\"phone\":\"<b>06 12</b>\",\"picture\":\"" + picture + "\"}",
                       }));
}

TEST_F(ServicesTest, ConversionServiceSetsItsCookieOnce)
{
    const std::string jar = files.file("cookies");
    const std::string url = server.Url("/download/?url=http://127.0.0.1/a.jpg");
    Reply first = Curl({"-c", jar, "-b", jar, url});
    Reply second = Curl({"-c", jar, "-b", jar, url});
    std::string cookie = Between(first.Header("Set-Cookie"), "convsid=", ";");
    EXPECT_EQ(cookie.size(), 16u);
    EXPECT_EQ(second.Header("Set-Cookie"), "");
    EXPECT_NE(server.Records().at(1).find("\"Cookie\":\"convsid=" + cookie + "\""), std::string::npos);
}

// ---- image host ----------------------------------------------------------------------

TEST_F(ServicesTest, ImageHostUploadAnswersTheLinkAndServesItsThumbnail)
{
    const std::string fileName = "/home/user/My Pictures/cat.bmp";
    Reply r = UploadToImageHost(PictureFile(), fileName);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "text/xml");
    std::string link = Between(r.body, "<image_link>", "</image_link>");
    ASSERT_EQ(link.rfind(server.Url("/img/"), 0), 0u) << r.body;
    std::string name = link.substr(server.Url("/img/").size());
    EXPECT_EQ(name.size(), 16u) << name;

    // The thumbnail address as the program builds it from the link.
    std::string thumbnail = link.substr(0, link.size() - 4) + ".th" + link.substr(link.size() - 4);
    EXPECT_EQ(Between(r.body, "<thumb_link>", "</thumb_link>"), thumbnail);
    EXPECT_EQ(Curl({link}).body, kPicture);
    EXPECT_EQ(Curl({thumbnail}).body, kPicture);
    EXPECT_EQ(Files(server.data.file("img")), std::vector<std::string>{name});   // no temporary left

    std::string record = server.RecordOf("/index.php");
    EXPECT_NE(record.find("\"parts\":[{\"name\":\"fileupload\",\"filename\":\"" + fileName +
                          "\",\"content_type\":\"image/pjpeg\",\"size\":" + std::to_string(kPicture.size()) +
                          "},{\"name\":\"xml\",\"filename\":\"\",\"content_type\":\"\",\"size\":3,\"text\":\"yes\"}]"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("\"stored\":\"img/" + name + "\""), std::string::npos) << record;

    // Without xml=yes the host answers a page.
    Reply page = UploadToImageHost(PictureFile(), fileName, false);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body.find("<image_link>"), std::string::npos);
    EXPECT_NE(page.body.find("<a href=\"" + server.Url("/img/")), std::string::npos) << page.body;
}

TEST_F(ServicesTest, ImageHostUploadWithoutAFileHasNoLink)
{
    Reply r = Curl({"-F", "xml=yes", server.Url("/index.php")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.find("<image_link>"), std::string::npos);
    EXPECT_NE(r.body.find("<error>"), std::string::npos);
    EXPECT_TRUE(Files(server.data.file("img")).empty());
}

TEST_F(ServicesTest, TransloadFetchesFromTheLoopbackOnly)
{
    std::string link = Between(UploadToImageHost(PictureFile(), "a.jpg").body, "<image_link>", "</image_link>");
    ASSERT_FALSE(link.empty());
    const std::string path = link.substr(server.base.size());
    const std::string port = server.Port();
    struct Case {
        std::string address;
        bool hosted;
    };
    const Case cases[] = {
        {server.base + path, true},
        {"http://localhost:" + port + path, true},
        {"HTTP://127.0.0.1:" + port + path + "#top", true},
        {"http://192.0.2.1" + path, false},
        {"http://127.0.0.1.example.com:" + port + path, false},
        {"http://127.0.0.1@192.0.2.1" + path, false},
        {"http://[::1]:" + port + path, false},
        {"https://127.0.0.1:" + port + path, false},
        {"file:///etc/passwd", false},
        {"", false},
        // On the loopback, but no picture there; redirects are not followed.
        {server.Url("/img/000000000000.jpg"), false},
        {server.Url("/_redirect?to=" + link), false},
        {"http://127.0.0.1:" + port + "0" + path, false},
    };
    size_t hosted = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        Reply r = Transload(c.address);
        EXPECT_EQ(r.status, 200);
        std::string got = Between(r.body, "<image_link>", "</image_link>");
        if (c.hosted) {
            ++hosted;
            ASSERT_EQ(got.rfind(server.Url("/img/"), 0), 0u) << r.body;
            EXPECT_NE(got, link);
            EXPECT_EQ(Curl({got}).body, kPicture);
        } else {
            EXPECT_EQ(r.body.find("<image_link>"), std::string::npos) << r.body;
            EXPECT_NE(r.body.find("<error>"), std::string::npos) << r.body;
        }
        EXPECT_EQ(Files(server.data.file("img")).size(), hosted);
    }
}

// ---- pages and hooks -------------------------------------------------------------------

TEST_F(ServicesTest, FrontPagesAndUnknownPaths)
{
    struct Case {
        std::string path;
        int status;
        std::string text;
    };
    const Case cases[] = {
        {"/", 200, "<html>"},
        {"/index.php", 200, "name=\"fileupload\""},
        {"/download/", 200, "/download/?url="},
        {"/transload.php", 405, ""},
        {"/nothing/here", 404, ""},
        {"/img/0123456789ab.jpg", 404, ""},
        {"/img/../requests.jsonl", 404, ""},
        {"/content/lumarok/tmp/../../requests.jsonl", 404, ""},
        {"/content/lumarok/tmp/", 404, ""},
        {"/_nosuchhook", 404, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Reply r = Curl({"--path-as-is", server.Url(c.path)});
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.body.find(c.text), std::string::npos);
    }
}

TEST_F(ServicesTest, HooksMisbehaveOnPurpose)
{
    struct Case {
        std::string path;
        int exit, status;
        std::string text, absent;
    };
    const Case cases[] = {
        {"/_status/404", 0, 404, "status 404", ""},
        {"/_status/500", 0, 500, "status 500", ""},
        {"/_status/99", 0, 400, "", ""},
        {"/_redirect", 0, 302, "", ""},
        {"/_garbage", 1, 0, "", ""},    // curl: not an HTTP reply
        {"/_close", 18, 200, "", ""},   // curl: the reply ended early
        {"/_noimagelink", 0, 200, "<links>", "<image_link>"},
        {"/_nomarker", 0, 200, "received", kMarker},
        {"/_shorttoken", 0, 200, kMarker, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Reply r = Curl({server.Url(c.path)});
        EXPECT_EQ(r.exit, c.exit);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.body.find(c.text), std::string::npos) << r.body;
        if (!c.absent.empty()) {
            EXPECT_EQ(r.body.find(c.absent), std::string::npos) << r.body;
        }
        bool raw = c.path == "/_garbage" || c.path == "/_close";
        EXPECT_NE(server.RecordOf(c.path).find("\"status\":" + std::to_string(raw ? 0 : c.status)), std::string::npos);
    }
    EXPECT_EQ(Curl({server.Url("/_redirect")}).Header("Location"), "/");
    EXPECT_EQ(Curl({server.Url("/_redirect?to=http://127.0.0.1/x")}).Header("Location"), "http://127.0.0.1/x");
    // The short token: what follows the marker runs to the end, under 36 characters.
    std::string page = Curl({server.Url("/_shorttoken")}).body;
    EXPECT_LT(page.size() - page.find(kMarker) - kMarker.size(), 36u);
}

TEST_F(ServicesTest, ArmedFaultAnswersOnAServicePath)
{
    std::string file = PictureFile();
    EXPECT_EQ(Curl({server.Url("/_fault?path=/index.php&reply=status/500&times=1")}).status, 200);
    EXPECT_EQ(UploadToImageHost(file, file).status, 500);
    EXPECT_NE(server.RecordOf("/index.php").find("\"status\":500,\"fault\":\"status/500\"}"), std::string::npos);
    EXPECT_NE(UploadToImageHost(file, file).body.find("<image_link>"), std::string::npos);   // used up

    Curl({server.Url("/_fault?path=/download/&reply=nomarker")});
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(UploadToConverter(file, file).body.find(kMarker), std::string::npos);
    Curl({server.Url("/_fault?path=/download/")});
    EXPECT_NE(UploadToConverter(file, file).body.find(kMarker), std::string::npos);

    for (const char* bad : {"/_fault?path=/index.php&reply=explode", "/_fault?reply=garbage",
                            "/_fault?path=/index.php&reply=garbage&times=0"})
        EXPECT_EQ(Curl({server.Url(bad)}).status, 400) << bad;
    EXPECT_NE(UploadToImageHost(file, file).body.find("<image_link>"), std::string::npos);
}

TEST(ServicesProcess, FaultArmedFromTheCommandLine)
{
    Server server({"--fault", "/transload.php=close"});
    EXPECT_EQ(Curl({"-F", "url=http://127.0.0.1/a.jpg", server.Url("/transload.php")}).exit, 18);
    EXPECT_NE(server.RecordOf("/transload.php").find("\"fault\":\"close\""), std::string::npos);
}

// ---- the record ------------------------------------------------------------------------

TEST_F(ServicesTest, RecordKeepsWhatArrivedAsJson)
{
    const std::string awkward =
        "quote\" backslash\\ line\nfeed tab\t ctl\x01 utf8 \xc3\xa9 lone \xff overlong \xe0\x80\xaf end";
    Reply r = Curl({"-b", "session=abc", "-A", "Agent \"7\"", "--form-string", "text=" + awkward, "-F",
                    "photo=@" + PictureFile() + ";type=image/pjpeg;filename=C:\\pics\\\xc3\xa9t\xc3\xa9.jpg",
                    server.Url("/download/?url=http://x/a%20b.jpg&forms=1")});
    ASSERT_EQ(r.exit, 0);
    Curl({"-d", "phoneNumber=1&picture=x", server.Url("/deliver")});

    // Every line parses; the values come back as they were sent (a byte that
    // is not UTF-8 as the character of that number).
    const char* script = R"(import json, sys
records = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
first, second = records
out = [first["method"], first["path"], first["query"], first["headers"]["Cookie"],
       first["headers"]["User-Agent"], first["parts"][0]["text"], first["parts"][1]["filename"],
       str(first["parts"][1]["size"]), str(first["body_size"]), second["body"], str(second["n"])]
sys.stdout.buffer.write("\x00".join(out).encode("utf-8"))
)";
    auto parsed = testing_support::Run({"/usr/bin/env", "python3", "-c", script, server.data.file("requests.jsonl")});
    ASSERT_EQ(parsed.status, 0);
    std::vector<std::string> fields;
    std::stringstream all(parsed.out);
    for (std::string field; std::getline(all, field, '\0');)
        fields.push_back(field);
    const std::string latin =
        "quote\" backslash\\ line\nfeed tab\t ctl\x01 utf8 \xc3\xa9 lone \xc3\xbf overlong \xc3\xa0\xc2\x80\xc2\xaf end";
    EXPECT_EQ(fields, (std::vector<std::string>{
                          "POST", "/download/", "url=http://x/a%20b.jpg&forms=1", "session=abc", "Agent \"7\"", latin,
                          "C:\\pics\\\xc3\xa9t\xc3\xa9.jpg", std::to_string(kPicture.size()),
                          std::to_string(awkward.size() + kPicture.size()), "phoneNumber=1&picture=x", "2"}));

    // /_requests serves the same, and reading it is not recorded.
    EXPECT_EQ(Curl({server.Url("/_requests")}).body, ReadText(server.data.file("requests.jsonl")));
    EXPECT_EQ(server.Records().size(), 2u);
}

TEST(ServicesProcess, RecordContinuesAcrossRuns)
{
    TempDir data;
    for (const char* expected : {"{\"n\":1,", "{\"n\":2,"}) {
        Child child({kServer, "--port", "0", "--data", data.path(), "--stdin-ends"});
        std::string line = child.ReadLine();
        ASSERT_EQ(line.rfind(kListening, 0), 0u) << line;
        Curl({"http://127.0.0.1:" + line.substr(kListening.size()) + "/"});
        child.CloseStdin();
        EXPECT_EQ(child.Wait(5000), 0);
        auto lines = Lines(ReadText(data.file("requests.jsonl")));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(expected, 0), 0u) << lines.back();
    }
}
