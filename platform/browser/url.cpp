#include "platform/browser/url.h"

#include <curl/curl.h>

#include <memory>

#include "platform/sys/text.h"

namespace browser {

namespace {

std::string Trim(const std::string& s)
{
    // Browsers also drop tabs and line breaks inside an address.
    std::string out;
    for (char c : s)
        if (c != '\t' && c != '\n' && c != '\r')
            out.push_back(c);
    auto first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

constexpr unsigned kUrlFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE | CURLU_ALLOW_SPACE;

// The whole address of `u`, or nothing. Host names are lower case, as a
// browser shows them.
std::string Get(CURLU* u)
{
    char* text = nullptr;
    if (curl_url_get(u, CURLUPART_HOST, &text, 0) == CURLUE_OK) {
        std::string host = sys::LowerAscii(text);
        curl_free(text);
        curl_url_set(u, CURLUPART_HOST, host.c_str(), 0);
    }
    if (curl_url_get(u, CURLUPART_URL, &text, 0) != CURLUE_OK)
        return {};
    std::string s = text;
    curl_free(text);
    return s;
}

const char kHex[] = "0123456789ABCDEF";

bool IsAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAlnum(unsigned char c) { return IsAlpha(c) || (c >= '0' && c <= '9'); }

} // namespace

std::string UrlScheme(const std::string& url)
{
    std::size_t i = 0;
    while (i < url.size() && (IsAlnum(static_cast<unsigned char>(url[i])) || url[i] == '+' || url[i] == '-' || url[i] == '.'))
        ++i;
    if (i == 0 || i >= url.size() || url[i] != ':' || !IsAlpha(url[0]))
        return {};
    return sys::LowerAscii(url.substr(0, i));
}

std::string NormalizeAddress(const std::string& address)
{
    std::string a = Trim(address);
    if (a.empty())
        return "about:blank";
    if (a[0] == '/')
        return FileUrlFromPath(a);
    std::string scheme = UrlScheme(a);
    if (scheme == "http" || scheme == "https" || scheme == "file") {
        std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
        if (curl_url_set(u.get(), CURLUPART_URL, a.c_str(), kUrlFlags) == CURLUE_OK)
            if (std::string s = Get(u.get()); !s.empty())
                return s;
    }
    return a;
}

std::string ResolveUrl(const std::string& base, const std::string& relative)
{
    std::string rel = Trim(relative);
    if (!UrlScheme(rel).empty())
        return NormalizeAddress(rel);
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    if (curl_url_set(u.get(), CURLUPART_URL, base.c_str(), kUrlFlags) != CURLUE_OK)
        return rel;
    if (rel.empty() || rel[0] == '#') {
        // Same document: the base without its fragment, then the new one.
        curl_url_set(u.get(), CURLUPART_FRAGMENT, rel.empty() ? nullptr : rel.c_str() + 1, 0);
        return Get(u.get());
    }
    if (curl_url_set(u.get(), CURLUPART_URL, rel.c_str(), kUrlFlags) != CURLUE_OK)
        return rel;
    return Get(u.get());
}

std::string FileUrlFromPath(const std::string& path)
{
    std::string out = "file://";
    for (unsigned char c : path) {
        if (IsAlnum(c) || std::string_view("/-._~!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string FilePathFromUrl(const std::string& url)
{
    if (UrlScheme(url) != "file")
        return {};
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    char* path = nullptr;
    if (curl_url_set(u.get(), CURLUPART_URL, url.c_str(), kUrlFlags) != CURLUE_OK ||
        curl_url_get(u.get(), CURLUPART_PATH, &path, CURLU_URLDECODE) != CURLUE_OK)
        return {};
    std::string s = path;
    curl_free(path);
    return s;
}

std::string FormEncode(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (IsAlnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            out.push_back(static_cast<char>(c));
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

} // namespace browser
