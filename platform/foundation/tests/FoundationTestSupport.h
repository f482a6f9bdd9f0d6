// What the foundation's tests share: a value of every kind, environment settings undone at the end.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace dktest {

// Every kind a property list holds, with the edges that break converters: non-ASCII and markup in
// strings, 64-bit and negative integers, dates (whole seconds) long before and after 2001, empty
// containers, keys whose byte order differs from their case-blind order.
plat::foundation::Value everyKind();

// Sets (or, with nullopt, removes) environment variables for the object's life.
class ScopedEnv {
public:
    ScopedEnv(std::initializer_list<std::pair<const char*, std::optional<std::string>>> settings);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace dktest

namespace plat::foundation {
// GoogleTest prints values as their canonical JSON.
inline void PrintTo(const Value& value, std::ostream* os) {
    *os << value.canonicalJSON();
}
}  // namespace plat::foundation
