// The two kinds of DKAudioSource: an OpenAL source, and the silent one every source is when there
// is no audio device, which only keeps its play state (a sound that is not looping ends at once).
// The kind is chosen once, when the device is opened or found missing, as LÖVE keeps audio/null
// beside audio/openal.
#pragma once

#include <memory>

#include "engine/sound/SoundManager.h"

namespace dk::sound {

// An OpenAL source when `audible` and one can be made on the current context, else a silent one.
std::unique_ptr<DKAudioSource> makeSource(bool audible);

}  // namespace dk::sound
