#pragma once
// Errors of the platform layer. Every failing file, registry, network or
// decoding operation throws one of these; the application's loop shows its
// message in the standard error box.
#include <stdexcept>
#include <string>

namespace sys {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An error carrying the text of errno for the operation that failed.
[[noreturn]] void ThrowErrno(const std::string& what, int err);

} // namespace sys
