#include "sharing/imagehost.h"

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "app/TvinForm1.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"

std::string ImageHostDomain()
{
    return sys::GetEnv("VINTREL_IMAGEHOST_HOST", "imageshack.us");
}

std::string ImageHostUploadUrl() { return "http://" + ImageHostDomain() + "/index.php"; }
std::string ImageHostTransloadUrl() { return "http://" + ImageHostDomain() + "/transload.php"; }
std::string ImageHostFrontPage() { return "http://" + ImageHostDomain() + "/"; }

namespace {

// The host answers in XML when asked to, and this element holds the
// picture's address there.
constexpr const char* kImageLink = "image_link";

// Opens the picture for the upload, so that one that cannot be read ends it
// before anything goes out. The HTTP client opens it again by name as it
// sends; this open is the check, and it is held until the post is over.
std::ifstream OpenForUpload(const std::string& path)
{
    // A name cut short at a NUL would open some other file than the entry
    // names. The message shows the NUL, which would end it.
    if (path.find('\0') != std::string::npos) {
        std::string shown = path;
        std::replace(shown.begin(), shown.end(), '\0', '?');
        sys::ThrowErrno("cannot open " + shown, ENOENT);
    }
    // A folder opens for reading here but gives no bytes; refuse it now
    // rather than half-way through the request.
    if (sys::IsDirectory(path))
        sys::ThrowErrno("cannot open " + path, EISDIR);
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        sys::ThrowErrno("cannot open " + path, errno ? errno : ENOENT);
    return file;
}

} // namespace

std::string TvinForm1::upfiletoimageshack(const std::string& path)
{
    std::ifstream file = OpenForUpload(path);
    net::MultipartForm form;
    // The host takes every picture as a JPEG upload, whatever its format, and
    // the part names the file by the full path it has here.
    form.AddFile("fileupload", path, path, "image/pjpeg");
    form.AddText("xml", "yes");
    const std::string reply = IdHTTP1.Post(ImageHostUploadUrl(), form);
    return getfromstrxml(reply, kImageLink);
}

std::string TvinForm1::transloadtoimageshack(const std::string& address)
{
    net::MultipartForm form;
    form.AddText("url", address);
    form.AddText("xml", "yes");
    const std::string reply = IdHTTP1.Post(ImageHostTransloadUrl(), form);
    return getfromstrxml(reply, kImageLink);
}

std::string TvinForm1::getfromstrxml(const std::string& reply, const std::string& element)
{
    const std::string open = "<" + element + ">";
    const std::string close = "</" + element + ">";
    const auto p = reply.find(open);
    // No opening tag, no element: the text in front of a lone closing tag is
    // not an answer.
    if (p == std::string::npos)
        return {};
    // The closing tag is looked for from the start of the reply too, not
    // after the opening one: one that comes first leaves nothing.
    const auto q = reply.find(close);
    const auto start = p + open.size();
    if (q == std::string::npos || q <= start)
        return {};
    return reply.substr(start, q - start);
}
