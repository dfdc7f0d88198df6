#pragma once
// One transfer of the engine: an address fetched over http(s) with libcurl or
// read from disk, on a worker thread. Nothing here touches the loop.
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace browser {

// What a navigation asks for: a GET of `url`, or a form's POST.
struct Request {
    Request() = default;
    explicit Request(std::string url_, std::string method_ = "GET", std::string body_ = {}, std::string type = {})
        : url(std::move(url_)), method(std::move(method_)), body(std::move(body_)), contentType(std::move(type))
    {
    }
    std::string url;
    std::string method = "GET";
    std::string body;          // a POST's body
    std::string contentType;   // a POST's body type
};

struct Response {
    std::string url;           // the final address, after redirects
    std::string contentType;   // "text/html; charset=..." as sent, or from the file's extension
    std::string body;
    long status = 0;           // HTTP status; 0 for files
    std::string error;         // why it failed; "" when it did not
};

// The cookies of one control, shared by its transfers (and so across
// redirects and pages), kept in memory only.
class CookieJar {
public:
    CookieJar();
    ~CookieJar();
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;
    void* Handle() const { return m_share; }

private:
    void* m_share;   // CURLSH
    std::array<std::mutex, 8> m_locks;
    friend struct CookieJarLocks;
};

// Call once on the main thread before any transfer (the control does).
void InitTransfers();

// Fetches `request`. Gives up soon after `cancelled` turns true (the result is
// then of no use). Blocks: run it on a worker thread.
Response Transfer(const Request& request, CookieJar& jar, const std::atomic<bool>& cancelled);

// The content type a local file is shown as, from its extension.
std::string ContentTypeForPath(const std::string& path);

} // namespace browser
