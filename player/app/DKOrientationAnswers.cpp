#include "player/app/DKOrientationAnswers.h"

#include "platform/foundation/Bundle.h"
#include "platform/sys/Device.h"
#include "platform/ui/Orientation.h"

using namespace plat;

unsigned DKOrientationAnswers::interfaceOrientationMaskForString(std::string_view name) {
    return ui::interfaceOrientationMaskForString(name);
}

unsigned DKOrientationAnswers::interfaceOrientationMaskForOrientation(int orientation) {
    return orientation >= 0 && orientation < 32 ? 1u << orientation : 0;
}

int DKOrientationAnswers::interfaceOrientationForString(std::string_view name) {
    return ui::interfaceOrientationForString(name);
}

std::vector<std::string_view> DKOrientationAnswers::supportedOrientationNames() {
    std::vector<std::string_view> names;
    const foundation::Bundle* bundle = foundation::Bundle::main();
    const foundation::Value* list =
        bundle ? bundle->infoValue(ui::kSupportedInterfaceOrientationsKey) : nullptr;
    if (const foundation::Value::Array* items = list ? list->array() : nullptr)
        for (const foundation::Value& item : *items)
            if (const std::string* name = item.string()) names.push_back(*name);
    return names;
}

bool DKOrientationAnswers::isGameOrientationSupported(int orientation) const {
    for (std::string_view name : supportedOrientationNames())
        if (deviceOrientationForString(name) == orientation) return true;
    return false;
}

int DKOrientationAnswers::getAnySupportedOrientation() const {
    const std::vector<std::string_view> names = supportedOrientationNames();
    return names.empty() ? ui::kInterfaceOrientationPortrait : interfaceOrientationForString(names.front());
}

int DKOrientationAnswers::getInterfaceOrientation() const {
    if (sys::Device::current().systemVersionFloat() >= 6.0f)
        if (ui::Application* app = ui::Application::shared()) return app->statusBarOrientation();
    return sys::Device::current().orientation();
}

std::optional<unsigned> DKOrientationAnswers::supportedInterfaceOrientationsForWindow(ui::Application&,
                                                                                      ui::Window*) {
    return isGameOrientationSupported(ui::kInterfaceOrientationPortraitUpsideDown)
               ? ui::kInterfaceOrientationMaskAll
               : ui::kInterfaceOrientationMaskAllButUpsideDown;
}

DKOrientationAnswers* DKApplicationOrientationAnswers() {
    ui::Application* app = ui::Application::shared();
    return app ? dynamic_cast<DKOrientationAnswers*>(app->delegate()) : nullptr;
}
