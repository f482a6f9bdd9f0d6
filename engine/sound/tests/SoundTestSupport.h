// Decoded sounds for the sound tests, over the tone and files of port/tests/AudioTestSupport.
#pragma once

#include <memory>

#include "engine/sound/SGSound.h"
#include "engine/sound/SGSoundNodes.h"
#include "port/tests/AudioTestSupport.h"

namespace dktest {

// A mono 16-bit 44.1 kHz tone of `seconds` at 441 Hz, loaded; null if that failed.
inline std::shared_ptr<SGSound> toneSound(double seconds) {
    TempDir dir;
    writeSound(dir.file("tone.caf"), kCaf16, sine(static_cast<int>(44100 * seconds), 1, 44100, 441, 0.5), 1,
               44100);
    auto sound = std::make_shared<SGSound>();
    return sound->loadFromFile(dir.file("tone.caf").c_str()) && sound->bufferCount() == 1 ? sound : nullptr;
}

inline std::vector<int16_t> fromLE16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

// Root-mean-square difference of two signals of the same length, in sample units.
inline double rmsError(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += double(a[i] - b[i]) * (a[i] - b[i]);
    return a.size() == b.size() && !a.empty() ? std::sqrt(sum / a.size()) : 1e9;
}

// Sets a player's controls: those in `on` true, the others false.
inline void setControls(SGSoundPlayerNode& node, std::initializer_list<SGBooleanPort*> on) {
    for (SGBooleanPort* p : {&node.trigger, &node.pause, &node.resume, &node.stop}) p->setValue(false);
    for (SGBooleanPort* p : on) p->setValue(true);
}

}  // namespace dktest
