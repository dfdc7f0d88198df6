#pragma once
// The HTTP client of the main window, on libcurl. One client lives for the
// whole run; its settings are fixed: Accept "text/html, */*", cookies kept in
// memory for the run and sent back to the same site, no read time-out, no
// proxy, redirects not followed, posts as HTTP/1.0 with one connection per
// request, User-Agent "Mozilla/3.0 (compatible; Indy Library)".
//
// A reply outside 200-299, or any reply that carries a Location header,
// throws HttpError whose message carries the status line ("HTTP/1.1 404 Not
// Found"). A connection that fails throws HttpError with a clear message
// naming the address. The reply body is returned whole, as bytes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sys/error.h"

namespace net {

class HttpError : public sys::Error {
public:
    HttpError(const std::string& message, int status = 0) : sys::Error(message), m_status(status) {}
    int Status() const { return m_status; }   // 0 when no reply came

private:
    int m_status;
};

// A multipart/form-data body: text parts and file parts, in the order added.
// File parts are streamed from disk when the request is sent, never loaded
// whole.
class MultipartForm {
public:
    void AddText(const std::string& name, const std::string& value);
    // `fileName` is what the part header names (any text, e.g. the full
    // local path); `contentType` the part's own content type.
    void AddFile(const std::string& name, const std::string& path, const std::string& fileName,
                 const std::string& contentType);

    struct Part {
        std::string name;
        std::string value;         // text parts
        std::string path;          // file parts: where the bytes come from
        std::string fileName;
        std::string contentType;
        bool isFile = false;
    };
    const std::vector<Part>& Parts() const { return m_parts; }

private:
    std::vector<Part> m_parts;
};

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    std::string Get(const std::string& url);
    // Sends the form as multipart/form-data ("multipart/form-data;
    // boundary=..." in the Content-Type header).
    std::string Post(const std::string& url, const MultipartForm& form);

    // The fixed settings, readable for tests.
    static constexpr const char* kAccept = "text/html, */*";
    static constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace net
