// The failure report of this layer's file operations: what the platform's error objects carry.
#pragma once

#include <string>
#include <string_view>

namespace plat::foundation {

struct Error {
    std::string domain;
    int code = 0;
    std::string message;  // one line naming the file, ready for standard error
};

inline constexpr std::string_view kCocoaErrorDomain = "NSCocoaErrorDomain";

// The platform's codes for the failures this layer reports.
enum ErrorCode : int {
    kFileReadUnknownError = 256,
    kFileReadNoSuchFileError = 260,
    kFileWriteUnknownError = 512,
    kPropertyListReadCorruptError = 3840,
    kPropertyListWriteInvalidError = 3852,
};

// Fills `error` when the caller asked for one; returns false so failures read `return fail(...)`.
inline bool fail(Error* error, int code, std::string message) {
    if (error) *error = Error{std::string(kCocoaErrorDomain), code, std::move(message)};
    return false;
}

}  // namespace plat::foundation
