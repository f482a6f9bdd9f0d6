// The client's built-in pictures, compiled in as embedded image records (KSEmbeddedImagesData.cpp,
// drawn by scripts/make-kiosk-images).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace plat::ui {
class Image;
}

namespace kiosk {

namespace images {
extern const std::uint8_t kCloseNormal[];
extern const std::size_t kCloseNormalSize;
extern const std::uint8_t kCloseHighlighted[];
extern const std::size_t kCloseHighlightedSize;
extern const std::uint8_t kBadge[];
extern const std::size_t kBadgeSize;
extern const std::uint8_t kBadge2x[];
extern const std::size_t kBadge2xSize;
}  // namespace images

// 29 x 29, made once each.
std::shared_ptr<plat::ui::Image> closeButtonImage(bool highlighted);
// 29 x 35: the finer record on a screen of scale 2.
std::shared_ptr<plat::ui::Image> badgeImage(double screenScale);

}  // namespace kiosk
