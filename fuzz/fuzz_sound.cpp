// Sound-effect files through the decoders SGSound picks by ending: Ogg Vorbis, linear-PCM CAF, and
// everything else converted to mono (IMA4 CAF by our own decoder, the rest by libsndfile). The
// ending is chosen from the content, as a game's file would be named.
#include "engine/sound/SoundDecoding.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using dk::fuzz::startsWith;
    DKPcm pcm;
    if (startsWith(data, size, "OggS")) {
        DKDecodeOggVorbis(dk::fuzz::scratchFile(data, size, ".ogg").c_str(), pcm);
        return 0;
    }
    const bool caf = startsWith(data, size, "caff");
    const std::string path = dk::fuzz::scratchFile(data, size, caf ? ".caf" : ".wav");
    if (caf && DKReadCafLinearPcm(path.c_str(), pcm) != DKCafStatus::kOtherFormat) return 0;
    DKDecodeToMono16(path.c_str(), pcm);
    return 0;
}
