#include "player/app/DKLoadingImageViewController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"
#include "platform/ui/ImageView.h"
#include "player/app/DKOrientationAnswers.h"

namespace {

plat::foundation::TraceCategory kStartup("startup");

std::optional<std::string> bundleImage(const char* name) {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    return bundle ? bundle->pathForResource(name, "png") : std::nullopt;
}

}  // namespace

DKLoadingImageViewController::DKLoadingImageViewController() { getImagePath(); }

std::optional<std::string> DKLoadingImageViewController::getImagePath() {
    const plat::sys::Screen& screen = plat::sys::Screen::main();
    if (screen.scale() == 2.0 && screen.bounds().height == 568.0) {
        m_portraitOrientationSupport = true;
        return bundleImage("Default-568h@2x");
    }
    if (plat::sys::Device::current().userInterfaceIdiom() == plat::sys::kUserInterfaceIdiomPad) {
        std::optional<std::string> portrait = bundleImage("Default-Portrait~ipad");
        std::optional<std::string> landscape = bundleImage("Default-Landscape~ipad");
        DKOrientationAnswers fallback;
        const DKOrientationAnswers* answers = DKApplicationOrientationAnswers();
        if (!answers) answers = &fallback;
        int o = answers->getInterfaceOrientation();
        if (!answers->isGameOrientationSupported(o) || o < 1 || o > 4) o = answers->getAnySupportedOrientation();
        if (landscape && (o == 3 || o == 4)) {
            m_portraitOrientationSupport = false;
            return landscape;
        }
        if (portrait) {
            m_portraitOrientationSupport = true;
            return portrait;
        }
        m_portraitOrientationSupport = false;
        return landscape;
    }
    m_portraitOrientationSupport = true;
    return bundleImage("Default");
}

void DKLoadingImageViewController::loadView() {
    std::optional<std::string> path = getImagePath();
    plat::foundation::trace(kStartup, [&] {
        const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
        std::string shown = path ? *path : "none";
        if (path && bundle && shown.starts_with(bundle->path() + "/")) shown.erase(0, bundle->path().size() + 1);
        return "launchImage " + shown;
    });
    auto view = std::make_shared<plat::ui::ImageView>(plat::ui::Rect{}, path.value_or(std::string()));
    view->setBackgroundColor(plat::ui::Color{1, 0, 0, 1});
    setView(view);
}

unsigned DKLoadingImageViewController::supportedInterfaceOrientations() const {
    return m_portraitOrientationSupport ? 6 : 24;
}

bool DKLoadingImageViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return m_portraitOrientationSupport ? (orientation == 1 || orientation == 2) : (orientation == 3 || orientation == 4);
}
