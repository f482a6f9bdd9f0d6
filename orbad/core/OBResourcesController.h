// The client's interface images (browser arrows, close buttons, the play mark), carried as Base64
// PNG text in the code, each call decoding a new image.
#pragma once

#include <memory>
#include <mutex>
#include <string_view>

#include "platform/ui/Image.h"

namespace orbad {

class OBResourcesController {
public:
    static std::shared_ptr<OBResourcesController> sharedResources();
    static void shutdown();

    // The main screen has two pixels a point.
    bool use2x() const;

    std::shared_ptr<plat::ui::Image> forwardImage() { return imageNamed("forwardImage", use2x()); }
    std::shared_ptr<plat::ui::Image> backImage() { return imageNamed("backImage", use2x()); }
    std::shared_ptr<plat::ui::Image> closeBoxImage() { return imageNamed("closeBoxImage", use2x()); }
    std::shared_ptr<plat::ui::Image> closeBlankImage() { return imageNamed("closeBlankImage", use2x()); }
    std::shared_ptr<plat::ui::Image> closeIconImage() { return imageNamed("closeIconImage", use2x()); }
    // Always the normal version: there is no other.
    std::shared_ptr<plat::ui::Image> playVideoImage() { return imageNamed("playVideoImage", false); }

    // By selector name; the double-resolution version when asked for and there is one. Nullptr for
    // an unknown name.
    std::shared_ptr<plat::ui::Image> imageNamed(std::string_view name, bool use2x);

private:
    std::mutex m_lock;
};

}  // namespace orbad
