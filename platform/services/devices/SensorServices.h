// The motion and location stand-ins (SensorStandIns.h), configured by the container's
// Library/LocalServices/motion.plist (gyroAvailable, deviceMotionAvailable) and location.plist
// (headingAvailable): "CMMotionManager" and "CLLocationManager" exist only while their file does;
// "UIAccelerometer", the game's accelerometer, always exists.
#pragma once

namespace plat::devices {

// Registers the three classes and connects the stand-ins to their files (once; later calls do nothing).
void registerSensorClasses();

}  // namespace plat::devices
