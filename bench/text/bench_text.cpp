// Texts far taller or wider than any texture, rendered on llvmpipe: many short lines in a free box,
// one long word wrapped a letter to a line in a narrow fixed box, one long line in a free box. All
// are cut to the texture limit (GL_MAX_TEXTURE_SIZE). Only what the texture can show is laid out;
// a free box is still measured whole (its width is the widest line's), which grows linearly.
// A one-line label is the baseline.
#include <GLES2/gl2.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/gl/HeadlessGL.h"
#include "port/DKTextures.h"

namespace {

bool setUp() {
    static std::unique_ptr<plat::gl::HeadlessContext> context;
    if (context) return true;
    std::string error;
    context = plat::gl::HeadlessContext::create(16, 16, plat::gl::Api::ES2, &error);
    return context != nullptr;
}

void render(benchmark::State& state, const std::string& text, bool fixed, float width, float height) {
    if (!setUp()) return state.SkipWithError("no GL");
    for (auto _ : state) {
        SGImage image =
            DKImageFromString(text.c_str(), "DejaVu Sans", 16, DKTextAlignmentLeft, fixed, width, height);
        glFinish();
        image.freeImage();
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_Label(benchmark::State& state) {
    render(state, "Score: 12345", false, 0, 0);
}
BENCHMARK(BM_Label)->Unit(benchmark::kMillisecond);

// "line 1\nline 2\n..." in a box as wide as the widest line and one line height per line.
void BM_ShortLines(benchmark::State& state) {
    std::string text;
    for (int i = 1; i <= state.range(0); ++i) text += "line " + std::to_string(i) + "\n";
    render(state, text, false, 0, 0);
}
BENCHMARK(BM_ShortLines)->Arg(1000)->Arg(4000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);

// One word of that many letters in a box narrower than a letter and taller than any texture.
void BM_LetterPerLine(benchmark::State& state) {
    render(state, std::string(state.range(0), 'a'), true, 1, 100000);
}
BENCHMARK(BM_LetterPerLine)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(200000)->Unit(benchmark::kMillisecond);

// One line of words that many bytes long in a free box: as wide as the texture allows, one line high.
void BM_OneLongLine(benchmark::State& state) {
    std::string text;
    while (text.size() < static_cast<size_t>(state.range(0))) text += "word ";
    render(state, text, false, 0, 0);
}
BENCHMARK(BM_OneLongLine)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
