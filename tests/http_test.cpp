// The HTTP client against a small local server that parses what it gets.
#include <gtest/gtest.h>

#include "platform/net/http.h"
#include "tests/test_support.h"


namespace {

struct HttpClientTest : ::testing::Test {
    static inline std::unique_ptr<testing_support::FixtureServer> server;
    static inline std::string base;   // without the last "/"

    static void SetUpTestSuite()
    {
        server = std::make_unique<testing_support::FixtureServer>(VINTREL_SOURCE_DIR "/tests/fixtures/http/server.py");
        ASSERT_TRUE(server->Started()) << "the test server did not start";
        base = server->Base().substr(0, server->Base().size() - 1);
    }
    static void TearDownTestSuite() { server.reset(); }
    net::HttpClient client;
    testing_support::TempDir dir;
};

} // namespace

TEST_F(HttpClientTest, MultipartPostAsTheServerParsesIt)
{
    std::string file = dir.file("picture.bmp");
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31);
    testing_support::WriteText(file, bytes);
    net::MultipartForm form;
    form.AddFile("fileupload", file, "C:\\My Pictures\\picture.bmp", "image/pjpeg");
    form.AddText("xml", "yes");
    std::string reply = client.Post(base + "/echo", form);
    EXPECT_NE(reply.find("\"method\": \"POST\""), std::string::npos) << reply;
    EXPECT_NE(reply.find("\"version\": \"HTTP/1.0\""), std::string::npos) << reply;
    EXPECT_NE(reply.find("\"user-agent\": \"Mozilla/3.0 (compatible; Indy Library)\""), std::string::npos);
    EXPECT_NE(reply.find("\"accept\": \"text/html, */*\""), std::string::npos);
    EXPECT_NE(reply.find("\"content-type\": \"multipart/form-data; boundary="), std::string::npos);
    // The parts in order, the file under the name it was given.
    // (JSON doubles the backslashes of the file name.)
    auto first = reply.find("\"disposition\": \"form-data; name=\\\"fileupload\\\"; "
                            "filename=\\\"C:\\\\My Pictures\\\\picture.bmp\\\"\", \"type\": \"image/pjpeg\", \"size\": 300000");
    auto second = reply.find("\"disposition\": \"form-data; name=\\\"xml\\\"\", \"type\": null, \"size\": 3, \"text\": \"yes\"");
    EXPECT_NE(first, std::string::npos) << reply;
    EXPECT_NE(second, std::string::npos) << reply;
    EXPECT_LT(first, second);
}

TEST_F(HttpClientTest, CookiesAreKeptForTheRun)
{
    client.Get(base + "/cookie?v=42");
    EXPECT_NE(client.Get(base + "/echo").find("\"cookie\": \"c=42\""), std::string::npos);
    net::HttpClient other;
    EXPECT_EQ(other.Get(base + "/echo").find("\"cookie\""), std::string::npos);
}

TEST_F(HttpClientTest, FailuresThrowWithTheStatusLine)
{
    struct Case {
        std::string path;
        std::string message;
        int status;
    };
    const Case cases[] = {
        {"/status/404", "404", 404},
        {"/status/500", "500", 500},
        {"/status/302", "302", 302},
        {"/moved", "HTTP/1.0 200 OK", 200},      // a Location ends the request whatever the status
        {"/garbage", "cannot reach", 0},
        {"/cut", "cannot reach", 0},
    };
    for (const auto& c : cases) {
        try {
            client.Get(base + c.path);
            ADD_FAILURE() << c.path << " did not fail";
        } catch (const net::HttpError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.path << ": " << e.what();
            EXPECT_EQ(e.Status(), c.status) << c.path;
        }
    }
    try {
        client.Get("http://127.0.0.1:9/refused");
        ADD_FAILURE() << "a refused connection did not fail";
    } catch (const net::HttpError& e) {
        EXPECT_NE(std::string(e.what()).find("127.0.0.1:9"), std::string::npos) << e.what();
    }
    net::MultipartForm missing;
    missing.AddFile("fileupload", dir.file("none.jpg"), "none.jpg", "image/pjpeg");
    EXPECT_THROW(client.Post(base + "/echo", missing), net::HttpError);
}
