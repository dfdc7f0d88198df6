#include "delivery/services.h"

#include "platform/sys/files.h"

std::string ConverterHost() { return sys::GetEnv("VINTREL_CONVERTER_HOST", "www.mobilpix.example"); }
std::string UploadHost() { return sys::GetEnv("VINTREL_UPLOAD_HOST", "upload.mobilpix.example"); }
std::string ContentHost() { return sys::GetEnv("VINTREL_CONTENT_HOST", "www.ringpix.example"); }
