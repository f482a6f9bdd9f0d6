// The platform's error object, for this layer and every one above: a domain, a code, a one-line
// description and a Value userInfo of further entries by key (a URL load's error keeps the failing
// address there).
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace plat::foundation {

struct Error {
    std::string domain;
    int code = 0;
    // One line, ready for standard error: file errors name the file, URL errors give the
    // platform's wording for the code.
    std::string message;
    // A dictionary of further entries (null when none), such as the address a URL load failed on.
    Value userInfo;

    // The string entry of userInfo under `key`; null when there is none.
    const std::string* infoString(std::string_view key) const {
        const Value* v = userInfo.find(key);
        return v ? v->string() : nullptr;
    }
};

inline constexpr std::string_view kCocoaErrorDomain = "NSCocoaErrorDomain";

// The platform's codes for the failures this layer reports.
enum ErrorCode : int {
    kFileReadUnknownError = 256,
    kFileReadNoSuchFileError = 260,
    kFileReadTooLargeError = 263,
    kFileWriteUnknownError = 512,
    kPropertyListReadCorruptError = 3840,
    kPropertyListWriteInvalidError = 3852,
};

// Fills `error` when the caller asked for one; returns false so failures read `return fail(...)`.
inline bool fail(Error* error, int code, std::string message) {
    if (error) *error = Error{std::string(kCocoaErrorDomain), code, std::move(message), {}};
    return false;
}

}  // namespace plat::foundation
