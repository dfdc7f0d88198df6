#pragma once
// The image host the sharing commands upload to. The client itself is three
// members of the main window (upfiletoimageshack, transloadtoimageshack,
// getfromstrxml, in imagehost.cpp): they use the main window's HTTP client.
#include <string>

// The host's domain, as the menus show it: $VINTREL_IMAGEHOST_HOST when set
// (tests and demos point it at a local server), else the public host.
std::string ImageHostDomain();

// Where a local file is posted, and where a web address is posted for the
// host to fetch it itself: plain http on the host's domain.
std::string ImageHostUploadUrl();
std::string ImageHostTransloadUrl();

// The host's front page, opened from the image host submenu; on the domain
// above, so a local stand-in host is opened too.
std::string ImageHostFrontPage();

// The name under which people know the image host, as the website snippet
// credits it.
inline constexpr const char* kImageHostSiteName = "ImageShack.us";
