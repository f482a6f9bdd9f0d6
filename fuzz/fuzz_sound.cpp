// Sound-effect files through the decoders SGSound picks by ending: Ogg Vorbis, linear-PCM CAF, and
// everything else converted to mono (IMA4 CAF by our own decoder, the rest by libsndfile). The
// ending is chosen from the content, as a game's file would be named.
#include <climits>

#include "engine/sound/SoundDecoding.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using dk::fuzz::startsWith;
    // Known crashes mended elsewhere: libvorbis's division by zero, FLAC frame counts.
    if (dk::fuzz::skipKnownFaults() && (startsWith(data, size, "OggS") || startsWith(data, size, "fLaC")))
        return 0;
    DKPcm pcm;
    if (startsWith(data, size, "OggS")) {
        DKDecodeOggVorbis(dk::fuzz::scratchFile(data, size, ".ogg").c_str(), pcm);
        return 0;
    }
    const bool caf = startsWith(data, size, "caff");
    const std::string path = dk::fuzz::scratchFile(data, size, caf ? ".caf" : ".wav");
    DKCafInfo info;
    // Known crash mended elsewhere: CAF sample rates an int cannot hold.
    if (caf && dk::fuzz::skipKnownFaults() && DKReadCafInfo(path, info) &&
        !(info.sampleRate >= 1 && info.sampleRate <= INT_MAX))
        return 0;
    if (caf && DKReadCafLinearPcm(path.c_str(), pcm) != DKCafStatus::kOtherFormat) return 0;
    DKDecodeToMono16(path.c_str(), pcm);
    return 0;
}
