#pragma once
// Shared by the COM tests: strings and error information as a caller takes
// them.
#include <string>

#include "platform/com/com.h"

namespace com_support {

// The text of a BSTR, which is then freed.
inline std::string TakeText(com::BSTR s)
{
    std::string t = com::BstrToUtf8(s);
    com::SysFreeString(s);
    return t;
}

struct ErrorInfoSeen {
    bool present = false;
    com::GUID guid = com::GUID_NULL;
    std::string source, description;
};

// This thread's error information, taken (so it is gone afterwards).
inline ErrorInfoSeen TakeErrorInfo()
{
    ErrorInfoSeen seen;
    com::IErrorInfo* raw = nullptr;
    if (com::GetErrorInfo(0, &raw) != com::S_OK)
        return seen;
    auto info = com::ComPtr<com::IErrorInfo>::Attach(raw);
    seen.present = true;
    info->GetGUID(&seen.guid);
    com::BSTR s = nullptr;
    info->GetSource(&s);
    seen.source = TakeText(s);
    info->GetDescription(&s);
    seen.description = TakeText(s);
    return seen;
}

} // namespace com_support
