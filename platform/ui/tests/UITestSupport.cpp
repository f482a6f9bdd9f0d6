#include "platform/ui/tests/UITestSupport.h"

#include <cstdio>
#include <sstream>

#include "platform/sys/Device.h"
#include "platform/ui/Window.h"

namespace dktest {

namespace {
plat::foundation::TraceCategory kTest("test");
}

void note(const std::string& text) {
    plat::foundation::trace(kTest, text);
}

TraceLog::TraceLog() : m_path(m_dir.file("trace.txt")) {
    plat::foundation::Trace::configure("lifecycle,ui,audio,notify,test", m_path.c_str());
}

TraceLog::~TraceLog() {
    plat::foundation::Trace::configure("", "");
}

Lines TraceLog::take() {
    std::string text = readFile(m_path);
    std::istringstream in(text.substr(m_read));
    m_read = text.size();
    Lines lines;
    std::string stamp, rest;
    while (in >> stamp && std::getline(in, rest)) lines.push_back(rest.substr(1));
    return lines;
}

Lines transitionLines(const std::string& operation) {
    std::string name = operation;
    name[0] = static_cast<char>(std::toupper(name[0]));
    return {"lifecycle " + operation, "test delegate " + operation,
            "notify UIApplication" + name + "Notification from UIApplication"};
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

NotingDelegate::~NotingDelegate() {
    note("delegate destroyed");
}

void NotingDelegate::didFinishLaunching(plat::ui::Application& app) {
    note("delegate didFinishLaunching");
    if (onLaunch) onLaunch(app);
}

void NotingController::willRotateToInterfaceOrientation(int o, double duration) {
    char text[64];
    std::snprintf(text, sizeof text, " willRotate %d %g", o, duration);
    note(name + text);
}

std::shared_ptr<plat::ui::Window> showWindow(std::shared_ptr<plat::ui::ViewController> root) {
    auto window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    window->setRootViewController(std::move(root));
    window->makeKeyAndVisible();
    return window;
}

}  // namespace dktest
