#include "sharing/imagehost.h"

#include "platform/sys/files.h"

std::string ImageHostDomain()
{
    return sys::GetEnv("VINTREL_IMAGEHOST_HOST", "imageshack.us");
}
