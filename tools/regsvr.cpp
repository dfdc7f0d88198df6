// regsvr: registers an in-process server library, or with -u unregisters it,
// as the system's registration tool does: it loads the library and calls its
// DllRegisterServer or DllUnregisterServer.
//
//   regsvr [-u] LIBRARY
//
// Exit status 0 when the call succeeded, 1 otherwise.
#include "platform/com/com.h"
#include "platform/com/runtime.h"

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kUsage = "usage: regsvr [-u] LIBRARY\n";

// The thread's error description, if the call left one.
std::string ErrorDescription()
{
    com::IErrorInfo* raw = nullptr;
    if (com::GetErrorInfo(0, &raw) != com::S_OK)
        return {};
    auto info = com::ComPtr<com::IErrorInfo>::Attach(raw);
    com::BSTR text = nullptr;
    info->GetDescription(&text);
    std::string description = com::BstrToUtf8(text);
    com::SysFreeString(text);
    return description;
}

} // namespace

int main(int argc, char** argv)
{
    bool unregister = false;
    std::string library;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-u" || arg == "/u")
            unregister = true;
        else if (library.empty() && !arg.empty() && arg[0] != '-')
            library = arg;
        else {
            std::fputs(kUsage, stderr);
            return 1;
        }
    }
    if (library.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    // The file named, never one found on the library search path.
    std::error_code ec;
    std::string file = std::filesystem::absolute(library, ec).lexically_normal().string();
    if (ec)
        file = library;

    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", file.c_str(), why ? why : "unknown error");
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call = reinterpret_cast<com::DllRegisterServerFn>(::dlsym(handle, entry));
    if (!call) {
        std::fprintf(stderr, "regsvr: %s was loaded, but its %s entry point was not found.\n", file.c_str(), entry);
        ::dlclose(handle);
        return 1;
    }
    com::HRESULT hr = call();
    int status = 0;
    if (com::SUCCEEDED(hr)) {
        std::printf("%s in %s succeeded.\n", entry, file.c_str());
    } else {
        std::fprintf(stderr, "regsvr: %s in %s failed. Return code was: 0x%08X\n", entry, file.c_str(),
                     static_cast<unsigned>(hr));
        if (std::string why = ErrorDescription(); !why.empty())
            std::fprintf(stderr, "regsvr: %s\n", why.c_str());
        status = 1;
    }
    ::dlclose(handle);
    return status;
}
