// The rich-media view's device side, shared by its information and sensor commands: the connection
// query in progress and every listening with its platform objects. Private to those two files.
//
// Facts come from deviceFacts() (so a tool's device facts decide). A connection query is a
// generation of its own: a new query drops the earlier one's reachability, timer and observation,
// an immediate answer arms no timer, and the answer ends the observation. Each polled motion
// listening has one sampling chain, cancelled at every start and stop; intervals are read as a
// C-locale float, at least 0.01 s. Without the motion class the accelerometer listening borrows the
// game's Accelerometer, saving the game's delegate (never itself) and interval for the stop; views
// that borrow it in turn form a chain, so one that stops under a later one hands what it saved on.
// Camera, torch and composer capabilities follow the media stand-ins' service files ("camera",
// "torch", "mail", "sms").
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/core/OrbadReachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/services/devices/SensorStandIns.h"
#include "platform/sys/Accelerometer.h"

namespace orbad {

// One polled motion listening. Its address names its pending sampling step on the run loop, so a
// start or stop cancels that step alone.
struct OrbadPolledListening {
    bool sending = false;
    std::optional<std::string> callback;
    double interval = 0;
};

struct OrbadPolledMember;

struct OrbadRichMediaWebAdView::DeviceState : plat::sys::AccelerometerDelegate,
                                              plat::devices::LocationManagerDelegate {
    explicit DeviceState(OrbadRichMediaWebAdView& owner) : view(owner) {}
    ~DeviceState() override;

    void didAccelerate(plat::sys::Accelerometer&, const plat::sys::Acceleration& acceleration) override;
    void didUpdateToLocation(plat::devices::LocationManager&, const plat::devices::Location& location,
                             const std::optional<plat::devices::Location>& previous) override;
    void didUpdateHeading(plat::devices::LocationManager&, const plat::devices::Heading& heading) override;

    // The shared location manager, held once per listening that runs.
    plat::devices::LocationManager& holdLocationManager();
    void releaseLocationManager();
    // Gives the game its accelerometer back when this view took it.
    void returnAccelerometer();
    // The views holding the accelerometer, in the order they took it.
    static std::vector<DeviceState*>& accelerometerHolders();

    // The connection query (the device commands).
    void getConnectionType();
    void reachabilityChanged(unsigned generation);
    void finishConnectionQuery(unsigned generation, const std::optional<std::string>& answer);

    // The listenings (the sensor commands); null answers are not sent.
    using Answer = std::optional<std::string>;
    void startPolled(const OrbadPolledMember& member, const Parameters& parameters);
    void startAccelerometerWithoutMotion(double interval, const Answer& ok, const Answer& err);
    void sampleStep(const OrbadPolledMember& member);
    void stopPolled(const OrbadPolledMember& member, const Answer& ok, const Answer& err);
    void stopLocation(bool heading, const Answer& ok, const Answer& err);
    void stopShake(const Answer& ok, const Answer& err);

    OrbadRichMediaWebAdView& view;

    // The connection query: one generation per query, so nothing of an earlier one answers.
    unsigned query = 0;
    std::unique_ptr<OrbadReachability> reachability;
    plat::foundation::Timer reachabilityTimer;
    plat::foundation::Observation reachabilityObservation;
    std::optional<std::string> reachabilitySuccess, reachabilityError;

    std::unique_ptr<plat::devices::MotionManager> motionManager;
    // By plat::devices::MotionSensor: acceleration, rotation rate, attitude.
    OrbadPolledListening polled[3];
    OrbadPolledListening& listening(plat::devices::MotionSensor sensor) {
        return polled[static_cast<int>(sensor)];
    }
    // The game's accelerometer, while this view holds it (no motion class): the game's own delegate
    // and interval, given back at the stop.
    bool holdsAccelerometer = false;
    plat::sys::AccelerometerDelegate* oldAccelerometerDelegate = nullptr;
    double oldAccelerometerInterval = 0;

    std::unique_ptr<plat::devices::LocationManager> locationManager;
    int locationHolds = 0;
    bool sendingGPS = false, sendingHeading = false;
    std::optional<std::string> gpsCallback, magnetometerCallback;

    bool sendingShake = false;
    std::optional<std::string> shakeCallback;
};

// "%f" as the C locale writes it, whatever the process's locale.
std::string orbadFormatF(double value);
// Whether the class `name` exists, the sensor stand-ins' classes registered first.
bool orbadHasDeviceClass(const char* name);

}  // namespace orbad
