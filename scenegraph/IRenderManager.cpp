#include "scenegraph/IRenderManager.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

bool DKShouldUseGLES2 = false;

namespace {

SGRenderManagerMaker& makerFor(SGRenderAPI api) {
    static SGRenderManagerMaker es1;
    static SGRenderManagerMaker es2;
    return api == SGRenderAPI::ES2 ? es2 : es1;
}

SGRendererRelease g_releases[2] = {nullptr, nullptr};  // ES1, ES2

}  // namespace

SGRenderManagerMaker SGSetRenderManagerMaker(SGRenderAPI api, SGRenderManagerMaker maker) {
    return std::exchange(makerFor(api), std::move(maker));
}

void SGSetRendererRelease(SGRenderAPI api, SGRendererRelease release) {
    g_releases[api == SGRenderAPI::ES2 ? 1 : 0] = release;
}

void SGReleaseRenderers() {
    for (SGRendererRelease release : g_releases)
        if (release) release();
}

bool SGCanMakeRenderManager() {
    return static_cast<bool>(makerFor(DKShouldUseGLES2 ? SGRenderAPI::ES2 : SGRenderAPI::ES1));
}

std::unique_ptr<IRenderManager> SGMakeRenderManager() {
    SGRenderAPI api = DKShouldUseGLES2 ? SGRenderAPI::ES2 : SGRenderAPI::ES1;
    const SGRenderManagerMaker& maker = makerFor(api);
    std::unique_ptr<IRenderManager> manager = maker ? maker() : nullptr;
    if (!manager) {
        std::fprintf(stderr, "No OpenGL ES %s render manager is installed\n",
                     api == SGRenderAPI::ES2 ? "2.0" : "1.1");
        std::abort();
    }
    return manager;
}
