// dk-orbad-cli's commands over the running client: ad units and the open-allocation choice, the
// server's alerts on the screen of the application main() makes (one at a time), instrumentation,
// demographics and feedback.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"

namespace plat::ui {
class AlertView;
}  // namespace plat::ui

namespace orbad {
class OBConfig;
}

namespace dk::tools::orbadcli {

using Say = std::function<void(const std::string& line)>;

class ClientCommands {
public:
    // `seed`: the ad units draw from a sequence it starts, else from the system's generator.
    ClientCommands(Say say, std::optional<long long> seed);
    ~ClientCommands();

    static const std::vector<dk::tools::AreaCommand<ClientCommands>>& commands();
    // Says what happened on screen since the last look: "open URL", "alert show TITLE|MESSAGE|B1,B2".
    void noticeScreen();

private:
    bool refuse(const std::string& why) const;
    // The running client's configuration; null before the start.
    orbad::OBConfig* config();
    bool adunit(dk::tools::Call& call);
    bool candidates(dk::tools::Call& call);
    bool pick(dk::tools::Call& call);
    bool alert(dk::tools::Call& call);
    bool instr(dk::tools::Call& call);
    bool demographics(dk::tools::Call& call);
    bool feedback(dk::tools::Call& call);

    Say m_say;
    std::optional<long long> m_seed;
    const orbad::OBConfig* m_seeded = nullptr;  // the configuration the seeded source went to
    std::vector<std::weak_ptr<plat::ui::AlertView>> m_alertsSeen;
    size_t m_urlsSeen = 0;
    std::shared_ptr<struct FeedbackListener> m_listener;
};

}  // namespace dk::tools::orbadcli
