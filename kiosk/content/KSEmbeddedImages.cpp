#include "kiosk/content/KSEmbeddedImages.h"

#include "kiosk/KSAPIRequest.h"

namespace kiosk {

std::shared_ptr<plat::ui::Image> closeButtonImage(bool highlighted) {
    static const auto normal = convertByteDataToUIImage(images::kCloseNormal, images::kCloseNormalSize);
    static const auto pressed =
        convertByteDataToUIImage(images::kCloseHighlighted, images::kCloseHighlightedSize);
    return highlighted ? pressed : normal;
}

std::shared_ptr<plat::ui::Image> badgeImage(double screenScale) {
    static const auto one = convertByteDataToUIImage(images::kBadge, images::kBadgeSize);
    static const auto two = convertByteDataToUIImage(images::kBadge2x, images::kBadge2xSize);
    return screenScale == 2.0 ? two : one;
}

}  // namespace kiosk
