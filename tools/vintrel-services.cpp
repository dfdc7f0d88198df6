// vintrel-services: the outside web services that Vintrel talks to, played
// on this machine so that the tests and the demo (tools/run) run end to end
// without the network. It is a stand-in, not part of the program.
//
//   vintrel-services --port N --data DIR [--stdin-ends] [--fault PATH=REPLY]...
//
//   --port N        listen on 127.0.0.1:N (0: any free port). Only 127.0.0.1.
//   --data DIR      where it keeps what it receives (created when missing):
//                     DIR/store/TOKEN    pictures uploaded to the conversion service
//                     DIR/img/NAME       pictures on the image host
//                     DIR/requests.jsonl the record of the requests
//                     DIR/outbox.jsonl   the deliveries
//   --stdin-ends    end when stdin closes too (a test that dies takes it along)
//   --fault P=R     arm reply R for every request to path P (see /_fault)
//
// Once it listens it prints "vintrel-services listening on 127.0.0.1:PORT" on
// stdout. It ends on SIGTERM or SIGINT (exit status 0). Exit status 2 for a
// bad command line, 1 when it cannot listen or use DIR.
//
// One port plays all four services; the program's VINTREL_CONVERTER_HOST,
// VINTREL_UPLOAD_HOST, VINTREL_CONTENT_HOST and VINTREL_IMAGEHOST_HOST may all
// be 127.0.0.1:PORT. The paths tell the services apart:
//
// Content site
//   GET  /                     its front page.
// Conversion service
//   GET  /download/?url=ADDRESS
//        the delivery page: the picture (<img src="ADDRESS">) and a form
//        (post to /deliver) with the text field "phoneNumber", the hidden
//        field "picture" holding ADDRESS and a submit button. ADDRESS is taken
//        as sent, not decoded, up to the next "&"; parameters after it choose
//        a variant:
//          &forms=N   N such forms (1 to 4), each with its "phoneNumber" field
//          &frames=1  a frameset of two frames, each a one-form delivery page;
//                     the second answers 300 ms after the first, so they
//                     finish loading one after the other
//          &delay=MS  answer after MS milliseconds (up to 5000)
//   GET  /download/?file=TOKEN the delivery page of an uploaded picture (the
//        "Continue" button of the upload answer).
//   POST /download/?form=1&resize=0&dsplogo=1   multipart parts "form", "resize",
//        "lang" and the file part "photo". Stores "photo" and answers a page
//        holding <input type="hidden" name="file" value="TOKEN">: the client
//        finds the text from `input type="hidden" name="file" value="` (39
//        characters) and takes the 36 characters after it as the token.
//        TOKEN is 32 lowercase hex digits, a dot and the picture's extension
//        (jpg, png, gif, bmp by its content; jpg when unknown). No "photo"
//        part: 400. Sets the cookie "convsid" when the request has none.
//   GET  /download/            a short page about the service.
// Upload store
//   GET  /content/lumarok/tmp/TOKEN   the stored picture; 404 when unknown.
// Delivery (the delivery form's submit)
//   POST /deliver              fields phoneNumber and picture (urlencoded,
//        multipart or in the query): records the delivery in DIR/outbox.jsonl
//        and answers "Sent to the outbox of PHONE". No phone number: 400.
//   GET  /outbox               DIR/outbox.jsonl: one line a delivery,
//        {"n":1,"time":"...","phone":"...","picture":"..."}.
// Image host
//   GET  /index.php            its front page, with an upload form.
//   POST /index.php            multipart "fileupload" (file) and "xml". Stores
//        the picture as NAME (12 hex digits, a dot, the extension as above)
//        and answers, with xml=yes, the XML
//          <links><image_link>http://HOST/img/NAME</image_link>
//          <thumb_link>THUMB</thumb_link></links>
//        and without it an HTML page with the same links. HOST is the
//        request's Host header. No "fileupload" part: the XML
//        <links><error>...</error></links> without image_link, status 200.
//   POST /transload.php        multipart (or urlencoded) "url" and "xml". The
//        host fetches the picture itself, but only over plain http from
//        127.0.0.1 or localhost (any port, no user part, redirects not
//        followed); anything else, or a fetch that fails or answers other
//        than 200, gives the error XML above. Otherwise as /index.php.
//   GET  /img/NAME             the picture.
//   GET  /img/THUMB            its thumbnail. As the program builds it, the
//        thumbnail of an address F is F without its last four characters,
//        ".th", and those four characters: /img/ab12.jpg -> /img/ab12.th.jpg.
//        The thumbnail is the picture itself.
// Test hooks (any method)
//   /_requests                 DIR/requests.jsonl (reads of it are not recorded).
//   /_status/N                 status N (200 to 599), body "status N".
//   /_redirect[?to=ADDRESS]    302 with Location ADDRESS (default "/").
//   /_garbage                  a reply that is not HTTP, then the connection closes.
//   /_close                    a 200 reply that promises 4096 bytes and closes
//                              after a few.
//   /_noimagelink              an image host XML reply without image_link.
//   /_nomarker                 an upload answer page without the marker.
//   /_shorttoken               an upload answer page that ends 16 characters
//                              after the marker.
//   /_fault?path=P&reply=R[&times=N]
//        the next N requests to path P (every one when N is not given) get
//        reply R, one of: status/N, redirect, garbage, close, noimagelink,
//        nomarker, shorttoken. Without "reply" it disarms P. That is how a
//        test makes the fixed paths of the program fail:
//          /_fault?path=/index.php&reply=status/500&times=1
//
// The record, DIR/requests.jsonl: one JSON object a line for every request
// but reads of /_requests, appended when the reply is ready and before it is
// sent, keys in this order:
//   n          the request's number (1, 2, ... continuing the file)
//   time       UTC, "2024-05-01T12:00:00.123Z"
//   method, path (decoded), query (as sent, without "?"), version ("HTTP/1.0")
//   headers    those present of Host, Content-Type, Content-Length,
//              User-Agent, Accept, Cookie
//   body_size  bytes of the body (of all parts' contents for multipart)
//   parts      multipart bodies only, in body order: {"name", "filename",
//              "content_type", "size"} and, for parts without a file name,
//              "text" (their first 4096 bytes)
//   body       other non-empty bodies: their first 4096 bytes
//   status     the reply's status; 0 for garbage and close
//   stored     where the picture went, relative to DIR ("img/NAME"), if any
//   fault      the armed reply that answered, if any
// Strings are JSON strings; bytes that are not UTF-8 stand as \u00XX.
//
// Every connection carries one request (replies say "Connection: close").

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMarker = "input type=\"hidden\" name=\"file\" value=\"";
constexpr std::string_view kStorePrefix = "/content/lumarok/tmp/";
constexpr size_t kMaxBody = size_t{256} << 20;
constexpr size_t kMaxFetch = size_t{32} << 20;
constexpr size_t kTextKept = 4096;
constexpr int kIoTimeoutMs = 10000;

// ---- text -----------------------------------------------------------------

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool AllOf(std::string_view s, std::string_view allowed)
{
    return std::all_of(s.begin(), s.end(), [&](char c) { return allowed.find(c) != std::string_view::npos; });
}

constexpr std::string_view kHex = "0123456789abcdef";
constexpr std::string_view kLowerAlnum = "0123456789abcdefghijklmnopqrstuvwxyz";

std::optional<long> Number(std::string_view s)
{
    if (s.empty() || s.size() > 9 || !AllOf(s, "0123456789"))
        return std::nullopt;
    return std::stol(std::string(s));
}

std::string Html(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// Length of the UTF-8 sequence at s[i], 0 when it is not a valid one.
size_t Utf8Length(std::string_view s, size_t i)
{
    auto at = [&](size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
    auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) { return at(k) >= lo && at(k) <= hi; };
    unsigned c = at(0);
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

std::string Json(std::string_view s)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (size_t n = c >= 0x80 ? Utf8Length(s, i) : 0) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Now()
{
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

std::string RandomHex(size_t n)
{
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::lock_guard lock(mutex);
    std::string out;
    while (out.size() < n)
        out += kHex[engine() & 15];
    return out;
}

// ---- pictures ---------------------------------------------------------------

// The extension a stored picture gets: by its first bytes; the program
// declares every picture "image/pjpeg", so what is not recognised is a JPEG.
std::string PictureExtension(std::string_view bytes)
{
    if (StartsWith(bytes, "\x89PNG"))
        return "png";
    if (StartsWith(bytes, "GIF8"))
        return "gif";
    if (StartsWith(bytes, "BM"))
        return "bmp";
    return "jpg";
}

std::string ContentTypeOf(std::string_view name)
{
    static const std::map<std::string, std::string, std::less<>> types = {
        {"jpg", "image/jpeg"}, {"png", "image/png"}, {"gif", "image/gif"}, {"bmp", "image/bmp"}};
    auto dot = name.rfind('.');
    auto it = dot == std::string_view::npos ? types.end() : types.find(name.substr(dot + 1));
    return it == types.end() ? "application/octet-stream" : it->second;
}

// A stored name: `hexDigits` hex digits, a dot and three letters or digits.
bool IsStoredName(std::string_view name, size_t hexDigits)
{
    return name.size() == hexDigits + 4 && AllOf(name.substr(0, hexDigits), kHex) && name[hexDigits] == '.' &&
           AllOf(name.substr(hexDigits + 1), kLowerAlnum);
}

// The thumbnail rule of the program, for names: the last four characters
// stay last, ".th" goes before them.
std::string Thumbnail(const std::string& f)
{
    if (f.size() < 4)
        return ".th" + f;
    return f.substr(0, f.size() - 4) + ".th" + f.substr(f.size() - 4);
}

// ---- files -----------------------------------------------------------------

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Written to a temporary file beside it and renamed over it: readers see the
// whole file or none.
void WriteFileAtomically(const fs::path& path, std::string_view bytes)
{
    std::string tmp = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(Errno("cannot create " + tmp));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string message = Errno("cannot write " + tmp);
            ::close(fd);
            ::unlink(tmp.c_str());
            throw std::runtime_error(message);
        }
        done += static_cast<size_t>(n);
    }
    ::fchmod(fd, 0644);
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        std::string message = Errno("cannot write " + path.string());
        ::unlink(tmp.c_str());
        throw std::runtime_error(message);
    }
}

// One write() on an O_APPEND file: the line lands whole after the others.
void AppendLine(const fs::path& path, const std::string& line)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error(Errno("cannot open " + path.string()));
    std::string text = line + "\n";
    ssize_t n;
    do
        n = ::write(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size()))
        throw std::runtime_error(Errno("cannot append to " + path.string()));
}

bool ReadFile(const fs::path& path, std::string& out)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return n == 0;
}

// ---- the connection ---------------------------------------------------------

// One accepted socket as cpp-httplib's stream. Ours rather than the library's
// so that a hook can put bytes on the wire that are no HTTP reply, after
// which whatever the library still writes is dropped.
class Connection final : public httplib::Stream {
public:
    explicit Connection(int fd) : m_fd(fd) {}

    bool is_readable() const override { return m_pos < m_len || Wait(POLLIN); }
    bool is_writable() const override { return m_raw || Wait(POLLOUT); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (m_pos == m_len) {
            if (!Wait(POLLIN))
                return -1;
            ssize_t n;
            do
                n = ::recv(m_fd, m_buf, sizeof m_buf, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            m_pos = 0;
            m_len = static_cast<size_t>(n);
        }
        size_t k = std::min(size, m_len - m_pos);
        std::memcpy(ptr, m_buf + m_pos, k);
        m_pos += k;
        return static_cast<ssize_t>(k);
    }

    using httplib::Stream::write;
    ssize_t write(const char* ptr, size_t size) override
    {
        if (m_raw)
            return static_cast<ssize_t>(size);
        return Send(ptr, size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(::getsockname, ip, port); }
    socket_t socket() const override { return m_fd; }

    // Puts `bytes` on the wire as they are; the library's reply is dropped.
    void SendRaw(std::string_view bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = Send(bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        m_raw = true;
    }

private:
    bool Wait(short events) const
    {
        pollfd p{m_fd, events, 0};
        int r;
        do
            r = ::poll(&p, 1, kIoTimeoutMs);
        while (r < 0 && errno == EINTR);
        return r > 0 && (p.revents & (events | POLLHUP)) != 0;
    }

    ssize_t Send(const char* ptr, size_t size)
    {
        if (!Wait(POLLOUT))
            return -1;
        ssize_t n;
        do
            n = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    template <class F>
    void Address(F get, std::string& ip, int& port) const
    {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        char text[INET_ADDRSTRLEN] = "";
        if (get(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_family == AF_INET) {
            ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
            port = ntohs(a.sin_port);
        }
        ip = text;
    }

    int m_fd;
    char m_buf[4096];
    size_t m_pos = 0, m_len = 0;
    bool m_raw = false;
};

thread_local Connection* t_connection = nullptr;

// ---- one request -------------------------------------------------------------

struct Part {
    std::string name, filename, contentType, data;
};

struct Exchange {
    explicit Exchange(const httplib::Request& r) : req(r) {}

    const httplib::Request& req;
    std::string body;                          // bodies that are not multipart
    std::vector<Part> parts;                   // multipart bodies, in body order
    bool multipart = false;
    std::multimap<std::string, std::string> form;   // urlencoded bodies

    // What the reply turned out as, for the record.
    std::string raw;       // bytes sent instead of an HTTP reply
    std::string stored;    // relative to the data folder
    std::string fault;

    const Part* FindPart(const std::string& name) const
    {
        for (const Part& p : parts)
            if (p.name == name)
                return &p;
        return nullptr;
    }

    // A field of the body (multipart or urlencoded), else of the query.
    std::optional<std::string> Field(const std::string& name) const
    {
        if (const Part* p = FindPart(name))
            return p->data;
        if (auto it = form.find(name); it != form.end())
            return it->second;
        if (req.has_param(name))
            return req.get_param_value(name);
        return std::nullopt;
    }

    std::string Query() const
    {
        auto q = req.target.find('?');
        return q == std::string::npos ? std::string() : req.target.substr(q + 1);
    }

    // The query split at "&" without decoding: the conversion service takes
    // the picture's address exactly as the program appends it.
    std::vector<std::pair<std::string, std::string>> RawQuery() const
    {
        std::vector<std::pair<std::string, std::string>> out;
        std::string q = Query();
        for (size_t start = 0; start <= q.size();) {
            size_t end = std::min(q.find('&', start), q.size());
            std::string item = q.substr(start, end - start);
            if (!item.empty()) {
                size_t eq = item.find('=');
                if (eq == std::string::npos)
                    out.emplace_back(item, "");
                else
                    out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
            }
            start = end + 1;
        }
        return out;
    }

    // The host the client addressed, for the links the image host hands out.
    std::string Host() const
    {
        std::string host = req.get_header_value("Host");
        if (host.empty() || !AllOf(host, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]"))
            return req.local_addr + ":" + std::to_string(req.local_port);
        return host;
    }
};

std::optional<std::string> RawParam(const Exchange& ex, const std::string& name)
{
    for (auto& [key, value] : ex.RawQuery())
        if (key == name)
            return value;
    return std::nullopt;
}

long NumberParam(const Exchange& ex, const std::string& name, long fallback, long lo, long hi)
{
    auto value = RawParam(ex, name);
    auto n = value ? Number(*value) : std::nullopt;
    return n ? std::clamp(*n, lo, hi) : fallback;
}

void Page(httplib::Response& res, int status, const std::string& title, const std::string& body)
{
    res.status = status;
    res.set_content("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + Html(title) +
                        "</title></head>\n<body>\n" + body + "</body></html>\n",
                    "text/html; charset=utf-8");
}

void SetCookieOnce(const Exchange& ex, httplib::Response& res, const std::string& name)
{
    if (ex.req.get_header_value("Cookie").find(name + "=") == std::string::npos)
        res.set_header("Set-Cookie", name + "=" + RandomHex(16) + "; Path=/");
}

// ---- the services -------------------------------------------------------------

struct Settings {
    int port = -1;
    fs::path data;
    bool stdinEnds = false;
    std::vector<std::pair<std::string, std::string>> faults;
};

const std::vector<std::string> kFaultReplies = {"redirect", "garbage", "close", "noimagelink", "nomarker",
                                                "shorttoken"};

bool IsFaultReply(const std::string& reply)
{
    if (StartsWith(reply, "status/"))
        return Number(std::string_view(reply).substr(7)).has_value();
    return std::find(kFaultReplies.begin(), kFaultReplies.end(), reply) != kFaultReplies.end();
}

class Services final : public httplib::Server {
public:
    explicit Services(const Settings& options) : m_data(options.data)
    {
        fs::create_directories(m_data / "store");
        fs::create_directories(m_data / "img");
        std::string record;
        if (ReadFile(m_data / "requests.jsonl", record))
            m_requests = static_cast<long>(std::count(record.begin(), record.end(), '\n'));
        if (ReadFile(m_data / "outbox.jsonl", record))
            m_deliveries = static_cast<long>(std::count(record.begin(), record.end(), '\n'));
        for (auto& [path, reply] : options.faults)
            m_faults[path] = {reply, -1};

        // Only SO_REUSEADDR: the library's default adds SO_REUSEPORT, with
        // which a second copy would share a port in use instead of failing.
        set_socket_options([](socket_t sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        set_address_family(AF_INET);
        set_payload_max_length(kMaxBody);

        auto withBody = [this](const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& reader) { Handle(req, res, &reader); };
        auto withoutBody = [this](const httplib::Request& req, httplib::Response& res) {
            Handle(req, res, nullptr);
        };
        Get(".*", withoutBody);
        Options(".*", withoutBody);
        Post(".*", withBody);
        Put(".*", withBody);
        Patch(".*", withBody);
        Delete(".*", withBody);
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        Connection connection(sock);
        t_connection = &connection;
        bool closed = false;
        bool ok = process_request(connection, true, closed, [](httplib::Request&) {});
        t_connection = nullptr;
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    void Handle(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader* reader)
    {
        Exchange ex(req);
        bool readable = !reader || ReadBody(*reader, ex);
        try {
            if (!readable)
                Page(res, res.status >= 400 ? res.status : 400, "Bad request", "<p>The body could not be read.</p>\n");
            else
                Route(ex, res);
            if (res.status == -1)
                res.status = 200;
        } catch (const std::exception& e) {
            Page(res, 500, "Server error", "<p>" + Html(e.what()) + "</p>\n");
        }
        if (req.path != "/_requests") {
            try {
                Record(ex, res);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "vintrel-services: %s\n", e.what());
            }
        }
        if (!ex.raw.empty() && t_connection)
            t_connection->SendRaw(ex.raw);
    }

    static bool ReadBody(const httplib::ContentReader& reader, Exchange& ex)
    {
        size_t total = 0;
        if (ex.req.is_multipart_form_data()) {
            ex.multipart = true;
            return reader(
                [&](const httplib::MultipartFormData& header) {
                    ex.parts.push_back({header.name, header.filename, header.content_type, {}});
                    return true;
                },
                [&](const char* data, size_t size) {
                    total += size;
                    if (ex.parts.empty() || total > kMaxBody)
                        return false;
                    ex.parts.back().data.append(data, size);
                    return true;
                });
        }
        bool ok = reader([&](const char* data, size_t size) {
            total += size;
            if (total > kMaxBody)
                return false;
            ex.body.append(data, size);
            return true;
        });
        if (ok && ex.req.get_header_value("Content-Type").find("application/x-www-form-urlencoded") == 0) {
            httplib::Params params;
            httplib::detail::parse_query_text(ex.body, params);
            ex.form.insert(params.begin(), params.end());
        }
        return ok;
    }

    void Route(Exchange& ex, httplib::Response& res)
    {
        const std::string& path = ex.req.path;
        if (auto fault = TakeFault(path)) {
            ex.fault = *fault;
            Hook(*fault, ex, res);
        } else if (StartsWith(path, "/_")) {
            Hook(path.substr(2), ex, res);
        } else if (path == "/") {
            Page(res, 200, "Pictures for your phone",
                 "<h1>Pictures for your phone</h1>\n<p>Put your own pictures on your phone: pick one in "
                 "Vintrel and press its phone button.</p>\n");
        } else if (path == "/download/" || path == "/download") {
            Converter(ex, res);
        } else if (StartsWith(path, kStorePrefix)) {
            ServeFile(res, "store", path.substr(kStorePrefix.size()), 32);
        } else if (path == "/index.php") {
            if (ex.req.method == "POST")
                HostPicture(ex, res, false);
            else
                ImageHostFrontPage(res);
        } else if (path == "/transload.php") {
            if (ex.req.method == "POST") {
                HostPicture(ex, res, true);
            } else {
                res.status = 405;
                res.set_header("Allow", "POST");
            }
        } else if (StartsWith(path, "/img/")) {
            ServeHostedPicture(res, path.substr(5));
        } else if (path == "/deliver") {
            Deliver(ex, res);
        } else if (path == "/outbox") {
            ServeRecord(res, "outbox.jsonl");
        } else {
            Page(res, 404, "Not found", "<p>Nothing here.</p>\n");
        }
    }

    // -- conversion service

    void Converter(Exchange& ex, httplib::Response& res)
    {
        if (ex.req.method == "POST") {
            if (RawParam(ex, "form") != "1")
                return Page(res, 400, "Bad request", "<p>Unknown request.</p>\n");
            return Upload(ex, res);
        }
        std::optional<std::string> address = RawParam(ex, "url");
        if (!address) {
            if (auto file = RawParam(ex, "file"); file && IsStoredName(*file, 32))
                address = "http://" + ex.Host() + std::string(kStorePrefix) + *file;
        }
        if (!address)
            return Page(res, 200, "Picture conversion",
                        "<h1>Picture conversion</h1>\n<p>Pictures for phones: ask for "
                        "/download/?url=ADDRESS.</p>\n");
        SetCookieOnce(ex, res, "convsid");
        if (long delay = NumberParam(ex, "delay", 0, 0, 5000))
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (RawParam(ex, "frames") == "1") {
            std::string src = "/download/?url=" + *address + "&frame=";
            res.status = 200;
            res.set_content("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Frameset//EN\">\n"
                            "<html><head><title>Send to your phone</title></head>\n<frameset rows=\"50%,50%\">\n"
                            "<frame name=\"first\" src=\"" +
                                Html(src + "1") + "\">\n<frame name=\"second\" src=\"" + Html(src + "2&delay=300") +
                                "\">\n</frameset></html>\n",
                            "text/html; charset=utf-8");
            return;
        }
        long forms = NumberParam(ex, "forms", 1, 1, 4);
        std::string body = "<h1>Send this picture to your phone</h1>\n<p><img src=\"" + Html(*address) +
                           "\" alt=\"Your picture\"></p>\n";
        for (long i = 1; i <= forms; ++i) {
            body += "<form method=\"post\" action=\"/deliver\">\n<p>" +
                    std::string(i == 1 ? "Your phone number" : "Another phone number") +
                    ": <input type=\"text\" name=\"phoneNumber\" value=\"\" size=\"20\"></p>\n"
                    "<input type=\"hidden\" name=\"picture\" value=\"" +
                    Html(*address) + "\">\n<p><input type=\"submit\" value=\"Send\"></p>\n</form>\n";
        }
        Page(res, 200, "Send to your phone", body);
    }

    void Upload(Exchange& ex, httplib::Response& res)
    {
        const Part* photo = ex.FindPart("photo");
        if (!photo)
            return Page(res, 400, "No picture", "<p>No picture was sent.</p>\n");
        std::string token;
        do
            token = RandomHex(32) + "." + PictureExtension(photo->data);
        while (fs::exists(m_data / "store" / token));
        WriteFileAtomically(m_data / "store" / token, photo->data);
        ex.stored = "store/" + token;
        SetCookieOnce(ex, res, "convsid");
        // The token follows the marker directly; nothing before it on the
        // page may hold the marker.
        Page(res, 200, "Picture received",
             "<p>Your picture has been received.</p>\n<p><img src=\"" + std::string(kStorePrefix) + token +
                 "\" alt=\"Your picture\"></p>\n<form method=\"get\" action=\"/download/\">\n<" +
                 std::string(kMarker) + token + "\">\n<input type=\"submit\" value=\"Continue\">\n</form>\n");
    }

    void Deliver(Exchange& ex, httplib::Response& res)
    {
        std::string phone = ex.Field("phoneNumber").value_or("");
        std::string picture = ex.Field("picture").value_or("");
        if (phone.find_first_not_of(" \t") == std::string::npos)
            return Page(res, 400, "No phone number", "<p>Please enter a phone number.</p>\n");
        {
            std::lock_guard lock(m_outboxMutex);
            AppendLine(m_data / "outbox.jsonl", "{\"n\":" + std::to_string(++m_deliveries) +
                                                    ",\"time\":" + Json(Now()) + ",\"phone\":" + Json(phone) +
                                                    ",\"picture\":" + Json(picture) + "}");
        }
        Page(res, 200, "Sent",
             "<p>Sent to the outbox of " + Html(phone) + "</p>\n<p><img src=\"" + Html(picture) + "\" alt=\"\"></p>\n");
    }

    // -- image host

    void ImageHostFrontPage(httplib::Response& res)
    {
        Page(res, 200, "Picture hosting",
             "<h1>Picture hosting</h1>\n"
             "<form method=\"post\" action=\"/index.php\" enctype=\"multipart/form-data\">\n"
             "<p><input type=\"file\" name=\"fileupload\"> <input type=\"submit\" value=\"Host it\"></p>\n</form>\n"
             "<form method=\"post\" action=\"/transload.php\" enctype=\"multipart/form-data\">\n"
             "<p><input type=\"text\" name=\"url\" size=\"40\"> <input type=\"submit\" value=\"Transload\"></p>\n"
             "</form>\n");
    }

    void HostPicture(Exchange& ex, httplib::Response& res, bool transload)
    {
        bool xml = ex.Field("xml") == "yes";
        SetCookieOnce(ex, res, "hostsid");
        std::string bytes, error;
        if (transload) {
            if (auto address = ex.Field("url"))
                error = FetchFromLoopback(*address, bytes);
            else
                error = "no address was given";
        } else if (const Part* part = ex.FindPart("fileupload")) {
            bytes = part->data;
        } else {
            error = "no picture was sent";
        }
        if (error.empty() && bytes.empty())
            error = "the picture is empty";
        if (!error.empty())
            return HostReply(res, xml, "", error);

        std::string name;
        do
            name = RandomHex(12) + "." + PictureExtension(bytes);
        while (fs::exists(m_data / "img" / name));
        WriteFileAtomically(m_data / "img" / name, bytes);
        ex.stored = "img/" + name;
        HostReply(res, xml, "http://" + ex.Host() + "/img/" + name, "");
    }

    static void HostReply(httplib::Response& res, bool xml, const std::string& link, const std::string& error)
    {
        res.status = 200;
        if (xml) {
            std::string doc = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<links>\n";
            if (error.empty())
                doc += "<image_link>" + Html(link) + "</image_link>\n<thumb_link>" + Html(Thumbnail(link)) +
                       "</thumb_link>\n";
            else
                doc += "<error>" + Html(error) + "</error>\n";
            res.set_content(doc + "</links>\n", "text/xml");
        } else if (error.empty()) {
            Page(res, 200, "Picture hosted",
                 "<p>Your picture: <a href=\"" + Html(link) + "\">" + Html(link) + "</a></p>\n<p><img src=\"" +
                     Html(Thumbnail(link)) + "\" alt=\"\"></p>\n");
        } else {
            Page(res, 200, "Not hosted", "<p>Sorry, " + Html(error) + ".</p>\n");
        }
    }

    // The host fetches only from this machine's loopback: the tests and the
    // demo never need more, and nobody can use it to reach elsewhere.
    static std::string FetchFromLoopback(const std::string& address, std::string& bytes)
    {
        if (Lower(address.substr(0, 7)) != "http://")
            return "only http addresses on 127.0.0.1 or localhost are fetched";
        std::string rest = address.substr(7);
        size_t slash = std::min(rest.find_first_of("/?#"), rest.size());
        std::string authority = rest.substr(0, slash);
        std::string path = rest.substr(slash);
        path = path.substr(0, path.find('#'));
        if (path.empty() || path[0] != '/')
            path = "/" + path;
        std::string host = authority;
        long port = 80;
        if (auto colon = authority.rfind(':'); colon != std::string::npos) {
            host = authority.substr(0, colon);
            auto n = Number(std::string_view(authority).substr(colon + 1));
            if (!n || *n < 1 || *n > 65535)
                return "the address has no valid port";
            port = *n;
        }
        host = Lower(host);
        if (host != "127.0.0.1" && host != "localhost")
            return "only http addresses on 127.0.0.1 or localhost are fetched";

        httplib::Client client("127.0.0.1", static_cast<int>(port));
        client.set_address_family(AF_INET);
        client.set_connection_timeout(5, 0);
        client.set_read_timeout(10, 0);
        client.set_follow_location(false);
        bool tooBig = false;
        auto result = client.Get(path, [&](const char* data, size_t size) {
            if (bytes.size() + size > kMaxFetch) {
                tooBig = true;
                return false;
            }
            bytes.append(data, size);
            return true;
        });
        if (tooBig)
            return "the picture is too big";
        if (!result)
            return "the picture could not be fetched (" + httplib::to_string(result.error()) + ")";
        if (result->status != 200)
            return "the picture could not be fetched (status " + std::to_string(result->status) + ")";
        return {};
    }

    void ServeHostedPicture(httplib::Response& res, const std::string& name)
    {
        if (IsStoredName(name, 12))
            return ServeFile(res, "img", name, 12);
        // A thumbnail: the same name with ".th" before its last four characters.
        if (name.size() >= 7 && name.compare(name.size() - 7, 3, ".th") == 0)
            return ServeFile(res, "img", name.substr(0, name.size() - 7) + name.substr(name.size() - 4), 12);
        Page(res, 404, "Not found", "<p>No such picture.</p>\n");
    }

    void ServeFile(httplib::Response& res, const char* folder, const std::string& name, size_t hexDigits)
    {
        std::string bytes;
        if (!IsStoredName(name, hexDigits) || !ReadFile(m_data / folder / name, bytes))
            return Page(res, 404, "Not found", "<p>No such picture.</p>\n");
        res.status = 200;
        res.set_content(bytes, ContentTypeOf(name));
    }

    void ServeRecord(httplib::Response& res, const char* file)
    {
        std::string text;
        ReadFile(m_data / file, text);
        res.status = 200;
        res.set_content(text, "application/x-ndjson; charset=utf-8");
    }

    // -- test hooks

    void Hook(const std::string& name, Exchange& ex, httplib::Response& res)
    {
        if (name == "requests")
            return ServeRecord(res, "requests.jsonl");
        if (name == "fault")
            return ArmFault(ex, res);
        if (StartsWith(name, "status/")) {
            auto n = Number(std::string_view(name).substr(7));
            if (!n || *n < 200 || *n > 599)
                return Page(res, 400, "Bad request", "<p>Status 200 to 599.</p>\n");
            res.status = static_cast<int>(*n);
            res.set_content("status " + std::to_string(*n) + "\n", "text/plain");
            return;
        }
        if (name == "redirect") {
            res.status = 302;
            res.set_header("Location", ex.req.has_param("to") ? ex.req.get_param_value("to") : "/");
            res.set_content("Moved\n", "text/plain");
            return;
        }
        if (name == "garbage") {
            ex.raw = "this is no HTTP reply\n";
            return;
        }
        if (name == "close") {
            ex.raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4096\r\nConnection: close\r\n\r\n"
                     "<html><body>This reply ends early";
            return;
        }
        if (name == "noimagelink") {
            res.status = 200;
            res.set_content("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<links>\n<done>yes</done>\n</links>\n",
                            "text/xml");
            return;
        }
        if (name == "nomarker")
            return Page(res, 200, "Picture received", "<p>Your picture has been received.</p>\n");
        if (name == "shorttoken") {
            res.status = 200;
            res.set_content("<html><body><form method=\"get\" action=\"/download/\">\n<" + std::string(kMarker) +
                                "0123456789abcdef",
                            "text/html");
            return;
        }
        Page(res, 404, "Not found", "<p>No such hook.</p>\n");
    }

    void ArmFault(const Exchange& ex, httplib::Response& res)
    {
        std::string path = ex.req.has_param("path") ? ex.req.get_param_value("path") : "";
        if (!StartsWith(path, "/"))
            return Page(res, 400, "Bad request", "<p>Give path=/PATH.</p>\n");
        std::lock_guard lock(m_faultMutex);
        if (!ex.req.has_param("reply")) {
            m_faults.erase(path);
            res.set_content("disarmed " + path + "\n", "text/plain");
            return;
        }
        std::string reply = ex.req.get_param_value("reply");
        long times = -1;
        if (ex.req.has_param("times")) {
            auto n = Number(ex.req.get_param_value("times"));
            if (!n || *n < 1)
                return Page(res, 400, "Bad request", "<p>times is a count from 1.</p>\n");
            times = *n;
        }
        if (!IsFaultReply(reply))
            return Page(res, 400, "Bad request", "<p>Unknown reply.</p>\n");
        m_faults[path] = {reply, times};
        res.set_content("armed " + reply + " for " + path + "\n", "text/plain");
    }

    std::optional<std::string> TakeFault(const std::string& path)
    {
        std::lock_guard lock(m_faultMutex);
        auto it = m_faults.find(path);
        if (it == m_faults.end())
            return std::nullopt;
        std::string reply = it->second.reply;
        if (it->second.left > 0 && --it->second.left == 0)
            m_faults.erase(it);
        return reply;
    }

    // -- the record

    void Record(const Exchange& ex, const httplib::Response& res)
    {
        const httplib::Request& req = ex.req;
        std::string headers;
        for (const char* name : {"Host", "Content-Type", "Content-Length", "User-Agent", "Accept", "Cookie"}) {
            if (!req.has_header(name))
                continue;
            headers += std::string(headers.empty() ? "" : ",") + Json(name) + ":" + Json(req.get_header_value(name));
        }
        size_t size = ex.body.size();
        std::string parts;
        for (const Part& p : ex.parts) {
            size += p.data.size();
            parts += std::string(parts.empty() ? "" : ",") + "{\"name\":" + Json(p.name) +
                     ",\"filename\":" + Json(p.filename) + ",\"content_type\":" + Json(p.contentType) +
                     ",\"size\":" + std::to_string(p.data.size());
            if (p.filename.empty())
                parts += ",\"text\":" + Json(std::string_view(p.data).substr(0, kTextKept));
            parts += "}";
        }
        std::string line = "{\"n\":";
        std::lock_guard lock(m_recordMutex);
        line += std::to_string(++m_requests) + ",\"time\":" + Json(Now()) + ",\"method\":" + Json(req.method) +
                ",\"path\":" + Json(req.path) + ",\"query\":" + Json(ex.Query()) + ",\"version\":" +
                Json(req.version) + ",\"headers\":{" + headers + "},\"body_size\":" + std::to_string(size);
        if (ex.multipart)
            line += ",\"parts\":[" + parts + "]";
        else if (!ex.body.empty())
            line += ",\"body\":" + Json(std::string_view(ex.body).substr(0, kTextKept));
        line += ",\"status\":" + std::to_string(ex.raw.empty() ? res.status : 0);
        if (!ex.stored.empty())
            line += ",\"stored\":" + Json(ex.stored);
        if (!ex.fault.empty())
            line += ",\"fault\":" + Json(ex.fault);
        AppendLine(m_data / "requests.jsonl", line + "}");
    }

    struct Fault {
        std::string reply;
        long left;   // -1: every request
    };

    fs::path m_data;
    std::mutex m_recordMutex, m_outboxMutex, m_faultMutex;
    long m_requests = 0;
    long m_deliveries = 0;
    std::map<std::string, Fault> m_faults;
};

// ---- the command line ------------------------------------------------------------

constexpr const char* kUsage =
    "usage: vintrel-services --port N --data DIR [--stdin-ends] [--fault PATH=REPLY]...\n";

std::optional<Settings> ParseOptions(int argc, char** argv)
{
    Settings o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            auto n = Number(argv[++i]);
            if (!n || *n > 65535)
                return std::nullopt;
            o.port = static_cast<int>(*n);
        } else if (arg == "--data" && hasValue && *argv[i + 1]) {
            o.data = argv[++i];
        } else if (arg == "--stdin-ends") {
            o.stdinEnds = true;
        } else if (arg == "--fault" && hasValue) {
            std::string value = argv[++i];
            auto eq = value.find('=');
            if (eq == std::string::npos || !StartsWith(value, "/") || !IsFaultReply(value.substr(eq + 1)))
                return std::nullopt;
            o.faults.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else {
            return std::nullopt;
        }
    }
    if (o.port < 0 || o.data.empty())
        return std::nullopt;
    return o;
}

// Until SIGTERM or SIGINT, or the end of stdin when asked.
void WaitForTheEnd(int signals, bool stdinEnds)
{
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {0, POLLIN, 0}};
        int r = ::poll(fds, stdinEnds ? 2 : 1, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || fds[0].revents)
            return;
        if (fds[1].revents) {
            char buf[512];
            ssize_t n = ::read(0, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // Signals are taken by the main thread alone, through a descriptor; the
    // server's threads inherit the blocked mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("vintrel-services: signalfd");
        return 1;
    }

    std::unique_ptr<Services> services;
    try {
        services = std::make_unique<Services>(*options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vintrel-services: cannot use %s: %s\n", options->data.c_str(), e.what());
        return 1;
    }
    int port = options->port;
    if (port == 0)
        port = services->bind_to_any_port("127.0.0.1");
    else if (!services->bind_to_port("127.0.0.1", port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "vintrel-services: cannot listen on 127.0.0.1:%d\n", options->port);
        return 1;
    }

    std::atomic<bool> ended = false;
    std::thread loop([&] {
        services->listen_after_bind();
        ended = true;
    });
    // stop() only reaches a server that has started its loop.
    while (!services->is_running() && !ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ended) {
        loop.join();
        std::fprintf(stderr, "vintrel-services: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("vintrel-services listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);

    WaitForTheEnd(signals, options->stdinEnds);
    services->stop();
    loop.join();
    ::close(signals);
    return 0;
}
