#pragma once

#include <string>

#include "engine/DKEngine.h"

namespace dktest {

// A fresh directory under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Runs Lua source in the state's main Lua state and returns the value it returns, as text
// (tostring of it), or "error: <message>".
std::string eval(DK_State* state, const std::string& chunk);

}  // namespace dktest
