// dk-orbad-cli's ads as the engine shows them:
//   model FILE             the model of a response entry {"creative":{...}}: "model CLASS type=N id=ID",
//                          then "field NAME VALUE" per field (orbad/ads/OrbadAdDump.h)
//   creative FILE [WxH]    its creative view in a stand-in engine view of that size (320x50), on a
//                          window of that size: "creative finished" or "creative failed [CODE]"
//   views                  that window's view tree, one JSON line a view (without a creative, the
//                          banners' window, with the screens their actions present)
//   screenshot FILE.png    that window as the compositor draws it
// The stand-in engine says what the ad asks of it: "host action", "host url URL", "host browser URL
// STYLE", "host log TEXT", "host touch", "host finish".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"

namespace orbad {
class OrbadAd;
class OrbadAdsView;
}  // namespace orbad
namespace plat::ui {
class Window;
}

namespace dk::tools::orbadcli {

class RichMediaCommands;
class StandInHost;

class CreativeCommands : private Voice {
public:
    // A rich-media creative goes to `richMedia`, for its commands.
    CreativeCommands(Say say, RichMediaCommands& richMedia);
    ~CreativeCommands();
    static const std::vector<AreaCommand<CreativeCommands>>& commands();

private:
    std::shared_ptr<orbad::OrbadAd> readModel(const std::string& path, std::string& error);
    bool model(Call& call);
    bool creative(Call& call);
    bool views(Call& call);
    bool screenshot(Call& call);

    Say m_say;
    RichMediaCommands& m_richMedia;
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<orbad::OrbadAdsView> m_creative;
    std::shared_ptr<StandInHost> m_host;
};

}  // namespace dk::tools::orbadcli
