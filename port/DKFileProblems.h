// Files the engine could not use (an image, a sound), said on standard error as "<path>: <reason>",
// once per file and reason: a game asking every frame for a missing picture gets one line, not
// one a frame. Forgotten when the last engine state closes, so the next game hears of its own.
#pragma once

#include <string>
#include <string_view>

namespace dk::port {

// After this many different problems the next are not said (one line says so).
inline constexpr size_t kMaxFileProblems = 1000;

void reportFileProblem(std::string_view path, std::string_view reason);
// Why a file that could not be read as it should failed before any decoding: it is missing, a
// folder, or cannot be opened ("" when it opens: the content is at fault).
std::string fileOpenProblem(const std::string& path);
void forgetFileProblems();

}  // namespace dk::port
