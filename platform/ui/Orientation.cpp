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

namespace {

// Clockwise quarter turns of an interface orientation's content on portrait glass: landscape
// right (the device turned left, home button on the right) turns it clockwise.
int quarterTurnsFromPortrait(int orientation) {
    switch (orientation) {
        case kInterfaceOrientationLandscapeRight: return 1;
        case kInterfaceOrientationPortraitUpsideDown: return 2;
        case kInterfaceOrientationLandscapeLeft: return 3;
        default: return 0;
    }
}

}  // namespace

int interfaceQuarterTurns(int interfaceOrientation, int glassOrientation) {
    return (quarterTurnsFromPortrait(interfaceOrientation) - quarterTurnsFromPortrait(glassOrientation) + 4) % 4;
}

Point interfacePointFromGlass(Point glass, Size glassSize, int glassOrientation, int interfaceOrientation) {
    switch (interfaceQuarterTurns(interfaceOrientation, glassOrientation)) {
        case 1: return {glass.y, glassSize.width - glass.x};
        case 2: return {glassSize.width - glass.x, glassSize.height - glass.y};
        case 3: return {glassSize.height - glass.y, glass.x};
        default: return glass;
    }
}

}  // namespace plat::ui
