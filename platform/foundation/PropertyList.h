// Property-list files, XML or binary, read into Values and written from them (libplist 2.2). This is
// the only code that knows libplist, and with it the 2001 epoch: its date calls hold int32 seconds
// and drop the sign of a fraction, so dates cross through libplist's binary form (every bit in
// binary files, whole seconds in XML). Before libplist sees a file it is measured: element nesting
// (XML) and, for binary files, the depth and unfolded size of the object graph (libplist copies a
// shared object at each reference: 200 bytes can unfold to gigabytes) and dictionary keys with a NUL
// (libplist asserts) or any string with one (libplist cuts it there). A string or key that is not well-formed UTF-8 is refused both ways (libplist's
// binary writer would cut it): as damage when read, as a value no property list holds when written.
// Anything refused is kPropertyListReadCorruptError naming the file. Files are read whole through
// readFile and written through plat::sys::writeFileAtomically.
#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/sys/WholeFile.h"

#include <optional>
#include <string>
#include <string_view>

namespace plat::foundation {

enum class PropertyListFormat { Xml, Binary };

// Reads XML or binary, told apart by content; `format` (when given) says which. Anything else,
// including an empty or truncated file and a string or key that is not UTF-8, is
// kPropertyListReadCorruptError.
// Binary integers above 2^63 - 1 read as negative, the only 64-bit form a Value has.
std::optional<Value> parsePropertyList(std::string_view bytes, Error* error = nullptr,
                                       PropertyListFormat* format = nullptr);
// The file's errors name it: kFileReadNoSuchFileError when missing, kFileReadUnknownError when
// it cannot be read (a directory, no permission, a FIFO or a device), kFileReadTooLargeError over
// `cap` (the first form: plat::sys::kPropertyListCap).
std::optional<Value> readPropertyList(const std::string& path, Error* error = nullptr,
                                      PropertyListFormat* format = nullptr);
std::optional<Value> readPropertyList(const std::string& path, const plat::sys::FileCap& cap, Error* error = nullptr,
                                      PropertyListFormat* format = nullptr);

// A property list holds no null and no string with a NUL in it or that is not UTF-8: such a value,
// or a date outside the years 0 to 9999, is kPropertyListWriteInvalidError. XML dates keep whole seconds (rounded
// towards 2001), binary ones every bit.
std::optional<std::string> serializePropertyList(const Value& value, PropertyListFormat format,
                                                 Error* error = nullptr);
// Whether `value` can be written: the same test as serializing it, without the text.
bool isPropertyListValue(const Value& value, Error* error = nullptr);

// Replaces `path` whole (a temporary beside it, flushed to disk, renamed over it): a failure or a
// kill at any point leaves the old file as it was.
bool writePropertyList(const std::string& path, const Value& value, PropertyListFormat format,
                       Error* error = nullptr);

}  // namespace plat::foundation
