#include "platform/browser/transfer.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/browser/url.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"

namespace browser {

struct CookieJarLocks {
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* jar)
    {
        static_cast<CookieJar*>(jar)->m_locks[static_cast<std::size_t>(data) % 8].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* jar)
    {
        static_cast<CookieJar*>(jar)->m_locks[static_cast<std::size_t>(data) % 8].unlock();
    }
};

void InitTransfers()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CookieJar::CookieJar()
{
    InitTransfers();
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &CookieJarLocks::Lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &CookieJarLocks::Unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_share = share;
}

CookieJar::~CookieJar() { curl_share_cleanup(static_cast<CURLSH*>(m_share)); }

std::string ContentTypeForPath(const std::string& path)
{
    auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos || path.find('/', dot) != std::string::npos
                          ? std::string()
                          : sys::LowerAscii(path.substr(dot + 1));
    if (ext == "jpg" || ext == "jpeg" || ext == "jpe") return "image/jpeg";
    if (ext == "png") return "image/png";
    if (ext == "gif") return "image/gif";
    if (ext == "bmp") return "image/bmp";
    if (ext == "txt") return "text/plain";
    return "text/html";
}

namespace {

// Larger pages are refused rather than held in memory.
constexpr std::size_t kMaxBody = 64u << 20;

struct Sink {
    std::string body;
    std::string statusLine;
};

size_t OnBody(char* data, size_t size, size_t count, void* sink)
{
    auto& s = static_cast<Sink*>(sink)->body;
    if (s.size() + size * count > kMaxBody)
        return 0;
    s.append(data, size * count);
    return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* sink)
{
    std::string line(data, size * count);
    if (line.starts_with("HTTP/")) {   // each response of a redirect chain starts anew
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        static_cast<Sink*>(sink)->statusLine = line;
        static_cast<Sink*>(sink)->body.clear();
    }
    return size * count;
}

Response ReadLocal(const Request& request)
{
    Response r;
    r.url = request.url;
    std::string path = FilePathFromUrl(request.url);
    r.contentType = ContentTypeForPath(path);
    if (path.empty() || !sys::FileExists(path) || sys::IsDirectory(path)) {
        r.error = "The file " + (path.empty() ? request.url : path) + " was not found.";
        return r;
    }
    try {
        r.body = sys::ReadFile(path);
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

Response Fetch(const Request& request, CookieJar& jar, const std::atomic<bool>& cancelled)
{
    Response r;
    r.url = request.url;
    Sink sink;
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(easy, CURLOPT_AUTOREFERER, 1L);
    curl_easy_setopt(easy, CURLOPT_SHARE, static_cast<CURLSH*>(jar.Handle()));
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");   // the cookie engine, with no file
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0 (X11; Linux) Vintrel/0.1");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);    // a stalled server gives up after
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 120L);   // two minutes
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &sink);
    if (request.method == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.c_str());
        headers = curl_slist_append(headers, ("Content-Type: " + request.contentType).c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    }

    // The multi interface lets the wait end early when the load is cancelled.
    CURLM* multi = curl_multi_init();
    curl_multi_add_handle(multi, easy);
    int running = 1;
    CURLcode code = CURLE_OK;
    while (running && !cancelled) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running)
            curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE)
            code = msg->data.result;
    if (cancelled || running)
        code = CURLE_ABORTED_BY_CALLBACK;

    char* effective = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        r.url = effective;
    char* type = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        r.contentType = type;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &r.status);
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);

    if (code != CURLE_OK) {
        r.error = code == CURLE_WRITE_ERROR ? "The page is too large." : curl_easy_strerror(code);
    } else if (r.status >= 400) {
        auto sp = sink.statusLine.find(' ');
        r.error = "The server answered " + (sp == std::string::npos ? std::to_string(r.status) : sink.statusLine.substr(sp + 1)) + ".";
    }
    r.body = std::move(sink.body);
    return r;
}

} // namespace

Response Transfer(const Request& request, CookieJar& jar, const std::atomic<bool>& cancelled)
{
    std::string scheme = UrlScheme(request.url);
    if (scheme == "file")
        return ReadLocal(request);
    if (scheme == "http" || scheme == "https")
        return Fetch(request, jar, cancelled);
    Response r;
    r.url = request.url;
    r.error = "The address " + request.url + " is not one this browser can open.";
    return r;
}

} // namespace browser
