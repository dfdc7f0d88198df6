#include "platform/net/http.h"

#include <cstdio>
#include <curl/curl.h>
#include <mutex>

namespace net {

void MultipartForm::AddText(const std::string& name, const std::string& value)
{
    m_parts.push_back({name, value, {}, {}, {}, false});
}

void MultipartForm::AddFile(const std::string& name, const std::string& path, const std::string& fileName,
                            const std::string& contentType)
{
    m_parts.push_back({name, {}, path, fileName, contentType, true});
}

namespace {

std::once_flag g_curlInit;

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The reply's header lines: the last status line, and whether a Location
// came (a redirect ends the request whatever its status).
struct Headers {
    std::string statusLine;
    bool location = false;
};

size_t CollectHeader(char* data, size_t size, size_t count, void* user)
{
    auto* h = static_cast<Headers*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        h->statusLine = line;
        h->location = false;   // a new reply (after an interim 100) starts over
    } else if (line.size() >= 9 && curl_strnequal(line.c_str(), "location:", 9)) {
        h->location = true;
    }
    return size * count;
}

struct Easy {
    CURL* h = curl_easy_init();
    ~Easy() { curl_easy_cleanup(h); }
};

struct Mime {
    curl_mime* m = nullptr;
    ~Mime() { curl_mime_free(m); }
};

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void Add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

} // namespace

struct HttpClient::Impl {
    CURLSH* share = nullptr;   // the cookies of the run, shared by every request
    std::string Perform(const std::string& url, const MultipartForm* form);
};

HttpClient::HttpClient() : m(std::make_unique<Impl>())
{
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m->share = curl_share_init();
    curl_share_setopt(m->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

HttpClient::~HttpClient() { curl_share_cleanup(m->share); }

std::string HttpClient::Get(const std::string& url) { return m->Perform(url, nullptr); }

std::string HttpClient::Post(const std::string& url, const MultipartForm& form) { return m->Perform(url, &form); }

std::string HttpClient::Impl::Perform(const std::string& url, const MultipartForm* form)
{
    Easy easy;
    if (!easy.h)
        throw HttpError("cannot start a request to " + url);
    CURL* h = easy.h;
    std::string body;
    Headers headers;
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_SHARE, share);
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");   // cookies on, kept in memory
    curl_easy_setopt(h, CURLOPT_USERAGENT, HttpClient::kUserAgent);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);   // connecting may fail; reading waits as long as it takes
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    HeaderList headerList;
    headerList.Add(std::string("Accept: ") + HttpClient::kAccept);
    headerList.Add("Expect:");

    Mime mime;
    if (form) {
        // Posts go out as HTTP/1.0, one connection each.
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
        mime.m = curl_mime_init(h);
        for (const auto& part : form->Parts()) {
            curl_mimepart* p = curl_mime_addpart(mime.m);
            curl_mime_name(p, part.name.c_str());
            if (part.isFile) {
                // Streamed from disk as the request goes out.
                if (curl_mime_filedata(p, part.path.c_str()) != CURLE_OK)
                    throw HttpError("cannot read " + part.path);
                curl_mime_filename(p, part.fileName.c_str());
                if (!part.contentType.empty())
                    curl_mime_type(p, part.contentType.c_str());
            } else {
                curl_mime_data(p, part.value.data(), part.value.size());
            }
        }
        curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.m);
        // Large pictures go out in large pieces; the file is still read a
        // piece at a time, never whole.
        curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.list);
    CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK) {
        std::string why = error[0] ? error : curl_easy_strerror(rc);
        throw HttpError("cannot reach " + url + ": " + why);
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299 || headers.location)
        throw HttpError(headers.statusLine.empty() ? "HTTP error " + std::to_string(status) : headers.statusLine,
                        static_cast<int>(status));
    return body;
}

} // namespace net
