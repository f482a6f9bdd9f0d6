// The two kinds of DKAudioSource: an OpenAL source, and the silent one every source is when there
// is no audio device, which only keeps its play state. The manager picks one kind at start-up.
#pragma once

#include <memory>

#include "engine/sound/SoundManager.h"

namespace dk::sound {

// An OpenAL source when `audible` and one can be made on the current context, else a silent one.
std::unique_ptr<DKAudioSource> makeSource(bool audible);

}  // namespace dk::sound
