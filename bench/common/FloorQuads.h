// What the frame benchmarks share: where the sprites start, their texture, and the floor, the same
// quads drawn by a minimal GL program in one call per blend state.
#pragma once

#include <GLES2/gl2.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dk::bench {

// The sprites' starting places and phases, the same sequence the Lua and LÖVE scenes use.
struct SpriteLayout {
    std::vector<float> x, y, phase;
    SpriteLayout(int n, int width, int height);
};

// A soft disc of `side` pixels, colours running across it (the formula the Lua scenes use): RGBA.
std::vector<uint8_t> spritePixels(int side);
// That disc as a linear-filtered texture, left bound.
GLuint makeSpriteTexture(int side);

// The floor's program, left in use: positions in the 320x240 world, texture times vertex colour;
// attributes 0 position, 1 texture coordinate, 2 colour.
GLuint useFloorProgram();

// `n` quads of interleaved position, texture coordinate and colour, drawn as indexed triangles
// from an element buffer (the fastest layout on llvmpipe). Binds its arrays when made.
class FloorQuads {
public:
    explicit FloorQuads(int n);
    ~FloorQuads();
    FloorQuads(const FloorQuads&) = delete;
    FloorQuads& operator=(const FloorQuads&) = delete;

    // Quad `i` centred at (x, y), `half` its half side, turned by `angle` radians.
    void set(int i, float x, float y, float half, float angle, const float (&colour)[4]);
    // Every quad of `frame` of a workload, as the Lua scenes place their sprites: of half side
    // `half`, turning `spin` radians a frame, or particles along one trajectory. A static scene
    // is placed on frame 0 only.
    void place(const std::string& workload, const SpriteLayout& layout, int frame, float half, float spin);
    // Clears and draws the frame; a rotated scene blends its first `over` quads over and adds
    // the rest. Returns the draw calls made.
    int drawFrame(bool rotated, int over) const;

private:
    std::vector<float> m_vertices;
    GLuint m_elements = 0;
};

}  // namespace dk::bench
