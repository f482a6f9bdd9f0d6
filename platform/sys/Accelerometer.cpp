#include "platform/sys/Accelerometer.h"

namespace plat::sys {

Accelerometer& Accelerometer::shared() {
    static Accelerometer accelerometer;
    return accelerometer;
}

bool Accelerometer::deliver(const Acceleration& acceleration) {
    if (!m_delegate) return false;
    m_delegate->didAccelerate(*this, acceleration);
    return true;
}

}  // namespace plat::sys
