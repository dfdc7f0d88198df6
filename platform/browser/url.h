#pragma once
// Addresses: what the control accepts, how a page's relative addresses
// resolve, and local files as addresses.
#include <string>

namespace browser {

// An address as the program gives it to Navigate: "" is about:blank, an
// absolute local path becomes a file:// address, anything else is kept
// (surrounding white space dropped).
std::string NormalizeAddress(const std::string& address);

// `relative` (an href, a src) resolved against the address of its document,
// as a browser does: white space around it is dropped, an address with a
// scheme stands as it is, a fragment alone keeps the base. When the base
// cannot take relative addresses (about:blank) `relative` comes back as given.
std::string ResolveUrl(const std::string& base, const std::string& relative);

// "http", "file", "about" ... in lower case; "" when the address has none.
std::string UrlScheme(const std::string& url);

// file:// address <-> local path (percent-encoded / decoded).
std::string FileUrlFromPath(const std::string& path);
std::string FilePathFromUrl(const std::string& url);   // "" when not a file:// address

// application/x-www-form-urlencoded: letters, digits and "*-._" stand, a space
// is '+', every other byte %XX.
std::string FormEncode(const std::string& bytes);

} // namespace browser
