#include "platform/ui/Orientation.h"

#include "platform/foundation/Value.h"
#include "platform/sys/Device.h"

namespace plat::ui {

unsigned interfaceOrientationMaskForString(std::string_view name) {
    if (name == "UIInterfaceOrientationLandscapeLeft") return kInterfaceOrientationMaskLandscapeLeft;
    if (name == "UIInterfaceOrientationPortrait") return kInterfaceOrientationMaskPortrait;
    if (name == "UIInterfaceOrientationPortraitUpsideDown") return kInterfaceOrientationMaskPortraitUpsideDown;
    return kInterfaceOrientationMaskLandscapeRight;
}

int interfaceOrientationForString(std::string_view name) {
    unsigned mask = interfaceOrientationMaskForString(name);
    int o = kInterfaceOrientationPortrait;
    while ((1u << o) != mask) ++o;
    return o;
}

unsigned interfaceOrientationMaskForInfoList(const foundation::Value* list) {
    const foundation::Value::Array* items = list ? list->array() : nullptr;
    if (!items) return kInterfaceOrientationMaskAll;
    unsigned mask = 0;
    for (const foundation::Value& item : *items)
        if (const std::string* name = item.string()) mask |= interfaceOrientationMaskForString(*name);
    return mask;
}

Rect interfaceBounds(int orientation) {
    Rect screen = sys::Screen::main().bounds();
    if (isLandscape(orientation)) std::swap(screen.width, screen.height);
    return screen;
}

}  // namespace plat::ui
