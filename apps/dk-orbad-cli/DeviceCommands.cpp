#include "apps/dk-orbad-cli/DeviceCommands.h"

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/core/OBSession.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/services/devices/SensorServices.h"
#include "platform/services/devices/SensorStandIns.h"
#include "platform/sys/Accelerometer.h"

namespace dk::tools::orbadcli {

namespace {

// The numbers of `args` from `first` on; false when one is not a number.
bool numbers(const std::vector<dk::tools::Arg>& args, size_t first, std::vector<double>& out) {
    for (size_t i = first; i < args.size(); ++i) {
        double value;
        if (!dk::tools::parseDouble(args[i].text, value)) return false;
        out.push_back(value);
    }
    return true;
}

}  // namespace

DeviceCommands::DeviceCommands(std::function<void(const std::string&)> say) : m_say(std::move(say)) {
    plat::devices::registerSensorClasses();
    plat::devices::setSensorTraceListener([say = m_say](std::string_view line) { say(dk::tools::escape(std::string(line))); });
}

DeviceCommands::~DeviceCommands() {
    plat::devices::setSensorTraceListener(nullptr);
}

bool DeviceCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

// What the input set off runs now, then the command answers.
bool DeviceCommands::done() const {
    plat::foundation::RunLoop::main().runFor(0);
    m_say("ok");
    return true;
}

const std::vector<dk::tools::AreaCommand<DeviceCommands>>& DeviceCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<DeviceCommands>> table = {
        {"motion", {"motion accel|gyro|attitude X Y Z"}, &DeviceCommands::motion},
        {"gps", {"gps LAT LON [ALT COURSE SPEED HACC VACC]"}, &DeviceCommands::gps},
        {"heading", {"heading DEGREES"}, &DeviceCommands::heading},
        {"accel", {"accel X Y Z"}, &DeviceCommands::accel},
        {"shake", {"shake"}, &DeviceCommands::shake},
    };
    return table;
}

bool DeviceCommands::motion(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    std::vector<double> n;
    const auto sensor = args.empty() ? std::nullopt : plat::devices::parseMotionSensor(args[0].text);
    if (!sensor || args.size() != 4 || !numbers(args, 1, n)) return refuse("usage: motion accel|gyro|attitude X Y Z");
    plat::devices::MotionManager::setReading(*sensor, {n[0], n[1], n[2]});
    return done();
}

bool DeviceCommands::gps(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    std::vector<double> n;
    if ((args.size() != 2 && args.size() != 7) || !numbers(args, 0, n))
        return refuse("usage: gps LAT LON [ALT COURSE SPEED HACC VACC]");
    plat::devices::Location fix;
    fix.latitude = n[0];
    fix.longitude = n[1];
    if (n.size() == 7) {
        fix.altitude = n[2];
        fix.course = n[3];
        fix.speed = n[4];
        fix.horizontalAccuracy = n[5];
        fix.verticalAccuracy = n[6];
    }
    fix.timestamp = orbad::wallNow();
    plat::devices::LocationManager::deliverLocation(fix);
    return done();
}

bool DeviceCommands::heading(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    std::vector<double> n;
    if (args.size() != 1 || !numbers(args, 0, n)) return refuse("usage: heading DEGREES");
    plat::devices::LocationManager::deliverHeading({n[0], orbad::wallNow()});
    return done();
}

bool DeviceCommands::accel(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    std::vector<double> n;
    if (args.size() != 3 || !numbers(args, 0, n)) return refuse("usage: accel X Y Z");
    plat::sys::Accelerometer::shared().deliver(
        {n[0], n[1], n[2], plat::foundation::Clock::process().now()});
    return done();
}

bool DeviceCommands::shake(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    std::vector<double> n;
    if (!args.empty()) return refuse("usage: shake");
    if (auto view = m_view.lock()) view->motionEnded(orbad::OrbadRichMediaWebAdView::kOrbadShakeMotion);
    return done();
}

}  // namespace dk::tools::orbadcli
