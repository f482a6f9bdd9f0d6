// The content view's "ks:" dispatcher on the fake page engine: each line of the input is a
// navigation the page makes. Only a command registered under the navigation's address runs, at
// most one per navigation, and an unregistered "ks://" address with a host is refused.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentView.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/RunLoop.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"

namespace {

using plat::foundation::RunLoop;

const char* const kAddresses[] = {"ks://dismiss", "ks://one", "ks://two/p", "ks://three", "ks://three/deeper"};

struct Watch : plat::ui::WebViewObserver {
    std::vector<std::string> ran;  // the addresses whose commands ran
    int decisions = 0;
    bool allowed = false;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest&, plat::ui::WebNavigationType,
                        bool allow) override {
        ++decisions;
        allowed = allow;
    }
};

Watch& watch() {
    static Watch w;
    return w;
}

void drain() {
    while (RunLoop::main().runOnce(0) == RunLoop::RunResult::SourceHandled) {
    }
}

// Shown, with the commands registered; again after a command closed it (loadContext's reply is
// never taken here, which fails the view).
KSContentView& view() {
    // Kept for the whole run, as the run loop it posts to is.
    static std::shared_ptr<KSContentView>& shown = *[] {
        plat::web::useWebEngine("fake");
        plat::ui::WebView::setObserver(&watch());
        kiosk::setLogHook([](std::string_view) {});
        return new std::shared_ptr<KSContentView>(KSContentView::make(nullptr));
    }();
    if (shown->content()) return *shown;
    const std::string page = dk::fuzz::scratchDir() + "/t.html";
    std::ofstream(page) << "<html></html>";
    auto unit = KSJsonParser().objectWithString(R"({"url":"file://)" + page +
                                                R"(","transition":"KS_MODAL","frame":"KS_FULLSCREEN"})");
    shown->setContent(KSContent::contentWithDictionary(*unit->object()));
    // The view's own dismiss would ping an address of the input: a noting command stands in.
    for (const char* address : kAddresses) {
        const std::string name = address;
        shown->redirectRequest(name, &watch(),
                               std::function<void(KSContentView::Context, KSContentView::CallbackId, KSContentView&)>(
                                   [name](auto, auto&, KSContentView&) { watch().ran.push_back(name); }));
    }
    shown->show(false);
    drain();
    return *shown;
}

bool hasHost(const std::string& url) {
    return url.starts_with("ks://") && url.size() > 5 && url.find_first_of("/?#", 5) != 5;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (int line = 0; line < 16 && start <= text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string url = text.substr(start, end - start);
        start = end + 1;
        KSContentView& shown = view();
        plat::web::FakeWebEngine* fake = plat::web::FakeWebEngine::of(shown.webView());
        watch().ran.clear();
        watch().decisions = 0;
        fake->injectNavigation(url, plat::ui::WebNavigationType::LinkClicked);
        drain();
        if (watch().decisions != 1) std::abort();
        if (watch().ran.size() > 1) std::abort();
        if (!watch().ran.empty()) {
            const std::string& address = watch().ran.front();
            const bool under = url.starts_with(address) &&
                               (url.size() == address.size() || url[address.size()] == '?' || url[address.size()] == '#');
            if (!under || watch().allowed) std::abort();
        } else if (hasHost(url) && watch().allowed) {
            std::abort();
        }
    }
    return 0;
}
