#include "orbad/core/OBResourcesController.h"

#include "orbad/core/OBResourcesImages.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/sys/Device.h"

namespace orbad {

namespace {

std::mutex& classLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<OBResourcesController>& instance() {
    static std::shared_ptr<OBResourcesController> shared;
    return shared;
}

}  // namespace

std::shared_ptr<OBResourcesController> OBResourcesController::sharedResources() {
    std::lock_guard<std::mutex> hold(classLock());
    if (!instance()) instance() = std::make_shared<OBResourcesController>();
    return instance();
}

void OBResourcesController::shutdown() {
    std::lock_guard<std::mutex> hold(classLock());
    instance().reset();
}

bool OBResourcesController::use2x() const {
    return plat::sys::Screen::main().scale() == 2.0;
}

std::shared_ptr<plat::ui::Image> OBResourcesController::imageNamed(std::string_view name, bool use2x) {
    std::lock_guard<std::mutex> hold(m_lock);
    const EmbeddedImage* chosen = nullptr;
    for (size_t i = 0; i < kEmbeddedImageCount; ++i) {
        const EmbeddedImage& image = kEmbeddedImages[i];
        if (name != image.name) continue;
        if (!chosen || (use2x && image.scale == 2) || (!use2x && image.scale == 1)) chosen = &image;
    }
    if (!chosen) return nullptr;
    const Data png = orbadDataFromBase64EncodedString(chosen->base64);
    return plat::ui::Image::fromData(png.data(), png.size(), chosen->name, chosen->scale);
}

}  // namespace orbad
