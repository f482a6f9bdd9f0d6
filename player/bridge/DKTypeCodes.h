// The type codes of the external-function bridge: the first character of a parameter's or
// result's type encoding, in the platform's form ("v@:@id" reads: returns void; receiver,
// selector; then an object, an int and a double).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class DKGameViewController;

inline constexpr const char* OBJC_TYPE_BOOL = "c";
inline constexpr const char* OBJC_TYPE_DOUBLE = "d";
inline constexpr const char* OBJC_TYPE_FLOAT = "f";
inline constexpr const char* OBJC_TYPE_ID = "@";
inline constexpr const char* OBJC_TYPE_INT = "i";
inline constexpr const char* OBJC_TYPE_UNSIGNED_INT = "I";

// True exactly when the first characters of the two strings are equal: "@\"NSString\"" matches
// "@", while a qualified encoding ("r*", "Vv") matches only its qualifier.
extern "C" bool objcTypeMatches(const char* encoding, const char* code);

namespace dk::player {

// The code of each type an action may take: text or nil, int, unsigned, double, float, BOOL, and
// the controller every action is given first. Other types have none and do not compile.
template <class T>
struct TypeCode;
template <>
struct TypeCode<std::optional<std::string>> {
    static constexpr char value = '@';
};
template <>
struct TypeCode<int32_t> {
    static constexpr char value = 'i';
};
template <>
struct TypeCode<uint32_t> {
    static constexpr char value = 'I';
};
template <>
struct TypeCode<double> {
    static constexpr char value = 'd';
};
template <>
struct TypeCode<float> {
    static constexpr char value = 'f';
};
template <>
struct TypeCode<bool> {
    static constexpr char value = 'c';
};
template <>
struct TypeCode<DKGameViewController*> {
    static constexpr char value = '@';
};

// Results: the same, no result, and any value as an object (nil, a number, text, or something
// the script sees as nil).
template <class T>
struct ResultCode : TypeCode<T> {};
template <>
struct ResultCode<void> {
    static constexpr char value = 'v';
};
template <>
struct ResultCode<plat::foundation::Value> {
    static constexpr char value = '@';
};

}  // namespace dk::player
