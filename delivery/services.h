#pragma once
// The host names of the outside services. Each is a constant of the program
// that an environment variable overrides (tests and the demo point them at
// the reference services on this machine): VINTREL_CONVERTER_HOST,
// VINTREL_UPLOAD_HOST, VINTREL_CONTENT_HOST; the image host's is
// ImageHostDomain() in sharing/imagehost.h (VINTREL_IMAGEHOST_HOST). A value
// may carry a port ("127.0.0.1:8080").
#include <string>

std::string ConverterHost();   // the conversion service
std::string UploadHost();      // its upload store
std::string ContentHost();     // the content site
