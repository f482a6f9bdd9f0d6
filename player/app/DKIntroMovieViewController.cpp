#include "player/app/DKIntroMovieViewController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"

DKIntroMovieViewController::~DKIntroMovieViewController() { plat::foundation::RunLoop::main().cancelPerforms(this); }

std::optional<std::string> DKIntroMovieViewController::introMovieURL() {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    if (!bundle) return std::nullopt;
    const char* name = "drovik_intro";
    if (plat::sys::Device::current().userInterfaceIdiom() == plat::sys::kUserInterfaceIdiomPad)
        name = "drovik_intro-iPad";
    else if (plat::sys::Screen::main().scale() == 2.0)
        name = "drovik_intro@2x";
    return bundle->pathForResource(name, "m4v");
}

void DKIntroMovieViewController::loadView() {
    auto view = std::make_shared<plat::ui::View>(plat::ui::Rect{});
    view->setBackgroundColor(plat::ui::Color{1, 1, 1, 1});
    setView(view);
}

void DKIntroMovieViewController::startIntro() {
    plat::foundation::NotificationCenter::defaultCenter().post(kDKIntroMovieStartedNotification,
                                                               {this, "DKIntroMovieViewController"});
    if (m_delegate) m_delegate->movieDidStart();
    plat::foundation::RunLoop::main().performAfter(0, this, [this] {
        if (m_delegate) m_delegate->movieDidFinish();
    });
}
