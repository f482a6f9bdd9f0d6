#include "platform/web/tests/WebTestSupport.h"

#include <chrono>
#include <utility>

#include "platform/foundation/RunLoop.h"

namespace dktest {

bool NotingWebDelegate::shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                        plat::ui::WebNavigationType type) {
    const bool allowed = !allow || allow(request.url);
    lines.push_back(std::string(allowed ? "allow " : "refuse ") + std::to_string(static_cast<int>(type)) + " " +
                    request.url);
    return allowed;
}

void NotingWebDelegate::didStartLoad(plat::ui::WebView&) {
    lines.push_back("start");
}

void NotingWebDelegate::didFinishLoad(plat::ui::WebView&) {
    lines.push_back("finish");
}

void NotingWebDelegate::didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) {
    lines.push_back("fail " + error.domain + " " + std::to_string(error.code));
}

std::vector<std::string> NotingWebDelegate::take() {
    return std::exchange(lines, {});
}

bool turnUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        plat::foundation::RunLoop::main().runOnce(0.05);
    }
    return true;
}

bool turnUntilLine(NotingWebDelegate& delegate, const std::string& prefix, double seconds) {
    return turnUntil(
        [&] {
            for (const auto& line : delegate.lines)
                if (line.compare(0, prefix.size(), prefix) == 0) return true;
            return false;
        },
        seconds);
}

std::shared_ptr<plat::ui::WebView> makeWebView(NotingWebDelegate& delegate, double width, double height) {
    auto view = std::make_shared<plat::ui::WebView>(plat::ui::Rect{0, 0, width, height});
    view->setDelegate(&delegate);
    return view;
}

}  // namespace dktest

// GLib and WebKit are not instrumented, and what they keep for the life of the process (types, the
// web context, caches) reads as leaks at exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
           "leak:libWPEWebKit-1.1.so\nleak:libwpe-1.0.so\nleak:libWPEBackend-fdo-1.0.so\n";
}
