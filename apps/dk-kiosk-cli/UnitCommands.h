// dk-kiosk-cli's content units, shown on a full-screen view of the tool's own window with the tool
// as their delegate:
//
//   unit show [ANIMATED] JSON   (0 or 1, default 1)       -> shown | nil (no unit in JSON)
//   unit dismiss [0|1]                                    -> ok
//   unit eval SCRIPT            (a JSON string)           -> the result
//   unit frames                 -> view X,Y,W,H web X,Y,W,H border R,G,B,A WIDTH
//   tap X Y | memory.warning | screenshot FILE.png        -> ok
//
// `unit dismiss`, `eval` and `frames` act on the unit shown last. Happenings: `delegate
// contentViewDidShow:` and the other operations of the views' delegate (errors as `DOMAIN CODE
// DESCRIPTION`), `nav allow|refuse URL` for each decision of a content view, `js SCRIPT` for each
// script evaluated. A dismissed or failed view goes back to the pool, as the content request does.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"
#include "kiosk/KSContentView.h"
#include "platform/ui/WebView.h"

namespace plat::host {
class HeadlessScreen;
}
namespace plat::ui {
class Application;
class ViewController;
}  // namespace plat::ui

namespace dk::tools::kioskcli {

class UnitCommands : private KSContentViewDelegate, private plat::ui::WebViewObserver {
public:
    explicit UnitCommands(std::function<void(const std::string&)> say);
    ~UnitCommands() override;

    static const std::vector<dk::tools::AreaCommand<UnitCommands>>& commands();

private:
    bool refuse(const std::string& why) const;
    bool unit(dk::tools::Call& call);
    bool tap(dk::tools::Call& call);
    bool screenshot(dk::tools::Call& call);
    bool memoryWarning(dk::tools::Call& call);
    void forget(KSContentView& view);

    void contentViewDidShow(KSContentView&) override;
    void contentViewDidLoad(KSContentView&) override;
    void contentViewDidDismiss(KSContentView& view) override;
    void contentViewDidFail(KSContentView& view, const plat::foundation::Error& error) override;
    // Asked and not answered: the border stays black.
    std::optional<plat::ui::Color> borderColorForContentView(KSContentView&) override;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, plat::ui::WebNavigationType,
                        bool allowed) override;
    void webViewEvaluates(plat::ui::WebView&, const std::string& script) override;

    std::function<void(const std::string&)> m_say;
    std::unique_ptr<plat::ui::Application> m_app;
    // The application, launched, and its key window's root controller, whose view takes the units.
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::unique_ptr<plat::host::HeadlessScreen> m_screen;
    std::vector<std::shared_ptr<KSContentView>> m_shown;  // the last on top
    int m_nextFinger = 1;
};

// The shortest text that reads back as `value` ("-0" as "0").
std::string shortest(double value);

}  // namespace dk::tools::kioskcli
