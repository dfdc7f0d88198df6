#pragma once
// The image host the sharing commands upload to.
#include <string>

// The host's domain, as the menus show it: $VINTREL_IMAGEHOST_HOST when set
// (tests and demos point it at a local server), else the public host.
std::string ImageHostDomain();
