// dk-orbad-cli's device input, acting at once on the main run loop:
//   motion accel|gyro|attitude X Y Z      the motion stand-in's latest reading of that sensor
//   gps LAT LON [ALT COURSE SPEED HACC VACC]   a fix for the location stand-in's managers
//   heading DEGREES                       a magnetic heading for them
//   accel X Y Z                           a sample of the game's accelerometer (g)
//   shake                                 a shake gesture ending on the last rich-media creative
// Each answers "ok"; what the stand-ins are asked to do prints as "motion ..." and "location ..."
// lines as it happens. The page's commands go through `web nav madview://...`.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"

namespace orbad {
class OrbadRichMediaWebAdView;
}

namespace dk::tools::orbadcli {

class DeviceCommands {
public:
    explicit DeviceCommands(std::function<void(const std::string&)> say);
    ~DeviceCommands();
    DeviceCommands(const DeviceCommands&) = delete;
    DeviceCommands& operator=(const DeviceCommands&) = delete;

    void setView(const std::shared_ptr<orbad::OrbadRichMediaWebAdView>& view) { m_view = view; }
    static const std::vector<dk::tools::AreaCommand<DeviceCommands>>& commands();

private:
    bool motion(dk::tools::Call& call);
    bool gps(dk::tools::Call& call);
    bool heading(dk::tools::Call& call);
    bool accel(dk::tools::Call& call);
    bool shake(dk::tools::Call& call);
    bool refuse(const std::string& why) const;
    bool done() const;
    std::function<void(const std::string&)> m_say;
    std::weak_ptr<orbad::OrbadRichMediaWebAdView> m_view;
};

}  // namespace dk::tools::orbadcli
