#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace dk::test {

// Polls `condition` until it holds or `seconds` pass; the music feeder runs on its own thread.
inline bool waitUntil(const std::function<bool()>& condition, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace dk::test
