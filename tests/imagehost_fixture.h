#pragma once
// The stand-in image host of the image host and share tests
// (tests/fixtures/imagehost/server.py): replies are queued before a request,
// and what each POST brought is read back as the server's multipart parser
// took it apart.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "platform/net/http.h"
#include "tests/test_support.h"

namespace imagehost_fixture {

// A port on which nothing listens.
inline int ClosedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Every byte but letters and digits as %XX.
inline std::string Encode(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

inline std::string Decode(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// One part of a posted form; nullopt where the part has no such header or
// parameter.
struct Part {
    std::string name;
    std::optional<std::string> fileName;
    std::optional<std::string> contentType;
    std::string content;
};

// One POST as the server got it.
struct Request {
    std::string method, path, version;
    std::optional<std::string> userAgent, accept, contentType;
    std::vector<Part> parts;
    std::string invalid;   // why the body was no multipart form, else ""
};

// A reply for the next POST.
struct Reply {
    std::string kind = "answer";   // "answer", "cut" (closed half-way), "drop" (no reply at all)
    int status = 200;
    std::string body = "";
    std::string location = "";
};

// The host's machine-readable answer for a picture kept at `link`.
inline std::string XmlReply(const std::string& link)
{
    return "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<imginfo version=\"1\">\n"
           "<files server=\"1\" bucket=\"2\"><image size=\"3\">a.jpg</image></files>\n"
           "<links>\n<image_link>" + link + "</image_link>\n<thumb_link>" + link + ".th</thumb_link>\n"
           "</links>\n</imginfo>\n";
}

class Server {
public:
    Server()
        : m_child(std::vector<std::string>{"/usr/bin/python3",
                                           VINTREL_SOURCE_DIR "/tests/fixtures/imagehost/server.py"})
    {
        std::string line = m_child.ReadLine(20000);
        auto at = line.rfind("port ");
        if (at != std::string::npos)
            m_host = "127.0.0.1:" + line.substr(at + 5);
    }

    // "127.0.0.1:PORT", empty when the server did not start.
    const std::string& Host() const { return m_host; }
    std::string Url(const std::string& path) const { return "http://" + m_host + path; }

    void Reset() { m_control.Get(Url("/_reset")); }
    void Queue(const Reply& r)
    {
        std::string query = "kind=" + Encode(r.kind) + "&status=" + std::to_string(r.status) +
                            "&body=" + Encode(r.body);
        if (!r.location.empty())
            query += "&location=" + Encode(r.location);
        m_control.Get(Url("/_reply?" + query));
    }
    void QueueLink(const std::string& link) { Queue({.body = XmlReply(link)}); }

    std::vector<Request> Received()
    {
        std::vector<Request> out;
        std::istringstream text(m_control.Get(Url("/_received")));
        std::string line;
        while (std::getline(text, line)) {
            std::vector<std::optional<std::string>> f;
            std::istringstream words(line);
            std::string word, kind;
            words >> kind;
            while (words >> word)
                f.push_back(word == "!" ? std::nullopt : std::optional(Decode(word.substr(1))));
            auto at = [&](size_t i) { return i < f.size() && f[i] ? *f[i] : std::string("?"); };
            if (kind == "request") {
                out.push_back({});
                out.back().method = at(0);
                out.back().path = at(1);
                out.back().version = at(2);
            } else if (kind == "header" && !out.empty() && f.size() == 2) {
                const std::string name = at(0);
                if (name == "User-Agent")
                    out.back().userAgent = f[1];
                else if (name == "Accept")
                    out.back().accept = f[1];
                else if (name == "Content-Type")
                    out.back().contentType = f[1];
            } else if (kind == "part" && !out.empty() && f.size() == 4) {
                out.back().parts.push_back({at(0), f[1], f[2], at(3)});
            } else if (kind == "invalid" && !out.empty()) {
                out.back().invalid = at(0);
            }
        }
        return out;
    }

private:
    testing_support::Child m_child;
    std::string m_host;
    net::HttpClient m_control;
};

// A program in a folder of its own whose image host is the stand-in, which
// runs for the whole suite and starts each test with nothing queued.
class ProgramWithHost : public ::testing::Test {
protected:
    static inline std::unique_ptr<Server> server;

    static void SetUpTestSuite() { server = std::make_unique<Server>(); }
    static void TearDownTestSuite() { server.reset(); }

    testing_support::IsolatedEnvironment env;
    std::string folder = env.dir().path();
    std::unique_ptr<ScopedEnv> host;
    std::unique_ptr<Program> program;
    TvinForm1* main = nullptr;

    void SetUp() override
    {
        ASSERT_FALSE(server->Host().empty()) << "the stand-in image host did not start";
        server->Reset();
        host = std::make_unique<ScopedEnv>("VINTREL_IMAGEHOST_HOST", server->Host());
        testing_support::WriteText(folder + "/url.ini", "http://127.0.0.1:9/\r\n");
        testing_support::WriteText(folder + "/color.ini", "1\r\n2\r\n3\r\n");
        program = std::make_unique<Program>(folder, std::vector<std::string>{folder + "/vintrel"});
        program->Start();
        main = program->vinForm1.get();
    }
    void TearDown() override
    {
        program.reset();
        host.reset();
    }
};

} // namespace imagehost_fixture
