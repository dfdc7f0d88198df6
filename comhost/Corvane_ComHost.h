#pragma once
// Corvane_ComHost's type library as C++: its identifiers and its dual
// interface, for the server and for callers that use the interface's table
// directly.
#include "platform/com/com.h"

namespace corvane {

constexpr com::GUID LIBID_Corvane_ComHost = {0x5B3F81C2, 0x7A64, 0x4D19,
                                            {0x9E, 0x2B, 0x6C, 0x0D, 0x4F, 0x8A, 0x1E, 0x37}};
constexpr com::IID IID_ICorvane = {0x5B3F81C3, 0x7A64, 0x4D19, {0x9E, 0x2B, 0x6C, 0x0D, 0x4F, 0x8A, 0x1E, 0x37}};
constexpr com::CLSID CLSID_Corvane = {0x5B3F81C5, 0x7A64, 0x4D19,
                                      {0x9E, 0x2B, 0x6C, 0x0D, 0x4F, 0x8A, 0x1E, 0x37}};

// The program identifier: the library's name, a dot, the class's name.
constexpr const char* kProgID = "Corvane_ComHost.Corvane";

// Dual: the seven IUnknown and IDispatch entries, then AddUrl (dispatch
// identifier 1).
struct ICorvane : com::IDispatch {
    virtual com::HRESULT AddUrl(com::BSTR URL, com::BSTR Title) = 0;

protected:
    ~ICorvane() = default;
};

} // namespace corvane
