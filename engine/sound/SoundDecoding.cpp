#include "engine/sound/SoundDecoding.h"

#include <fcntl.h>
#include <ogg/ogg.h>
#include <sndfile.h>
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/sys/WholeFile.h"

namespace {

constexpr size_t kOggChunk = 131072;
// A stream that keeps failing at the same place would otherwise be retried forever.
constexpr int kMaxOggRetries = 64;
// More logical streams or links than a sound effect has: refused rather than each read through.
constexpr int kMaxOggLinks = 64;
constexpr char kCapture[4] = {'O', 'g', 'g', 'S'};
constexpr sf_count_t kSndfileChunk = 16384;  // frames

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint64_t be64(const uint8_t* p) {
    return (uint64_t(be32(p)) << 32) | be32(p + 4);
}

constexpr uint32_t fourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

bool readAt(FILE* f, int64_t offset, void* out, size_t bytes) {
    return fseeko(f, offset, SEEK_SET) == 0 && std::fread(out, 1, bytes, f) == bytes;
}

int64_t fileSize(FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    return ftello(f);
}

// Reads `info.dataSize` bytes of audio data (fewer if the file is shorter than it claims).
bool readCafData(const std::string& path, const DKCafInfo& info, std::vector<uint8_t>& out) {
    File f(plat::sys::openRegularFile(path));
    if (!f || fseeko(f.get(), info.dataOffset, SEEK_SET) != 0) return false;
    out.resize(static_cast<size_t>(info.dataSize));
    out.resize(std::fread(out.data(), 1, out.size(), f.get()));
    return true;
}

int16_t clamp16(int v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

std::vector<int16_t> downmix(const std::vector<int16_t>& interleaved, int channels) {
    if (channels == 1) return interleaved;
    std::vector<int16_t> mono(interleaved.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i) {
        mono[i] = static_cast<int16_t>((interleaved[2 * i] + interleaved[2 * i + 1]) >> 1);
    }
    return mono;
}

void toBytes(const std::vector<int16_t>& samples, std::vector<uint8_t>& out) {
    out.resize(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        uint16_t v = static_cast<uint16_t>(samples[i]);
        out[2 * i] = static_cast<uint8_t>(v & 0xff);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

bool decodeCafIma4(const std::string& path, const DKCafInfo& info, DKPcm& out) {
    int channels = static_cast<int>(info.channelsPerFrame);
    if (channels < 1 || channels > 2) return false;
    // Each packet of 34 bytes a channel gives 64 mono frames: measured before anything is read.
    const uint64_t packets = static_cast<uint64_t>(info.dataSize) / (34u * channels);
    if (DKSoundTooLong(packets * 64 * 2, static_cast<int64_t>(info.sampleRate), 2)) {
        out.tooLong = true;
        return false;
    }
    std::vector<uint8_t> data;
    if (!readCafData(path, info, data)) return false;
    std::vector<int16_t> samples = DKDecodeIma4(data.data(), data.size(), channels);
    if (info.validFrames >= 0 && static_cast<size_t>(info.validFrames) * channels < samples.size()) {
        samples.resize(static_cast<size_t>(info.validFrames) * channels);
    }
    out.channels = 1;
    out.bitsPerSample = 16;
    out.sampleRate = static_cast<int>(info.sampleRate);
    toBytes(downmix(samples, channels), out.data);
    return true;
}

// Reads a Vorbis setup header's fields; any read past its end marks it damaged.
struct SetupReader {
    oggpack_buffer b;
    bool damaged = false;
    explicit SetupReader(ogg_packet& p) { oggpack_readinit(&b, p.packet, static_cast<int>(p.bytes)); }
    long operator()(int bits) {
        long v = bits ? oggpack_read(&b, bits) : 0;
        damaged = damaged || v < 0;
        return v;
    }
    int64_t bitsLeft() { return int64_t(b.storage) * 8 - oggpack_bits(&b); }
    void skip(int64_t bits) {
        if (bits > bitsLeft()) damaged = true;
        for (; !damaged && bits > 0; bits -= 32) (*this)(static_cast<int>(std::min<int64_t>(bits, 32)));
    }
};

int bitsFor(long v) {
    int n = 0;
    for (; v > 0; v >>= 1) ++n;
    return n;
}

// The greatest r with r^dim <= entries (dim >= 1): the values of a lattice codebook.
int64_t latticeValues(int64_t entries, int64_t dim) {
    auto fits = [&](int64_t r) {
        int64_t p = 1;
        for (int64_t i = 0; i < dim && p <= entries; ++i) p *= r;
        return p <= entries;
    };
    if (entries < 1) return 0;
    // The floating-point root is a close guess (entries < 2^24); whole numbers settle it.
    auto r = static_cast<int64_t>(std::pow(double(entries), 1.0 / double(dim)));
    while (r > 1 && !fits(r)) --r;
    while (fits(r + 1)) ++r;
    return r;
}

// libvorbis's residue decoder divides by its codebooks' dimensions, and a codebook whose code tree
// libvorbis cannot build is left with a dimension of 0 and used all the same: either way the
// process dies of SIGFPE. So a setup header is refused before libvorbis sees it when a codebook
// has no dimension or its codeword lengths do not fill the tree exactly (the Vorbis I rule; a
// single used entry needs no tree), or when it cannot be read through its codebooks.
bool codebooksAreDecodable(ogg_packet& p) {
    SetupReader read(p);
    read.skip(8 + 48);  // packet type, "vorbis"
    const long books = read(8) + 1;
    for (long i = 0; i < books && !read.damaged; ++i) {
        if (read(24) != 0x564342) return false;
        const long dim = read(16), entries = read(24);
        if (dim == 0 || read.damaged) return false;
        // Tree space taken, in units of a 32-bit codeword's share.
        uint64_t filled = 0, used = 0;
        auto take = [&](uint64_t count, long length) {
            if (length > 32) return false;
            filled += count << (32 - length);
            used += count;
            return true;
        };
        if (read(1) == 0) {  // lengths listed one by one, optionally sparse
            const bool sparse = read(1) == 1;
            for (long e = 0; e < entries && !read.damaged; ++e)
                if (!sparse || read(1) == 1) take(1, read(5) + 1);
        } else {  // ordered: runs of increasing lengths
            for (long e = 0, length = read(5) + 1; e < entries && !read.damaged; ++length) {
                const long run = read(bitsFor(entries - e));
                e += run;
                if (e > entries || !take(run, length)) return false;
            }
        }
        if (used > 1 && filled != uint64_t(1) << 32) return false;
        const long lookup = read(4);
        if (lookup == 1 || lookup == 2) {
            read(32);
            read(32);
            const int valueBits = static_cast<int>(read(4)) + 1;
            read(1);
            read.skip((lookup == 1 ? latticeValues(entries, dim) : int64_t(entries) * dim) * valueBits);
        } else if (lookup != 0) {
            return false;
        }
    }
    return !read.damaged;
}

// Reads on from a logical stream's first page, at `bos`, as vorbisfile reads a link's headers:
// the setup header is among the stream's first three packets.
bool linkSetupIsSafe(const std::vector<char>& file, size_t bos) {
    const int serial =
        static_cast<int>(uint32_t(uint8_t(file[bos + 14])) | uint32_t(uint8_t(file[bos + 15])) << 8 |
                         uint32_t(uint8_t(file[bos + 16])) << 16 | uint32_t(uint8_t(file[bos + 17])) << 24);
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    ogg_stream_state stream;
    ogg_stream_init(&stream, serial);
    bool safe = true, begun = false;
    int packets = 0;
    for (size_t at = bos; safe && packets < 3;) {
        ogg_page page;
        const int got = ogg_sync_pageout(&sync, &page);
        if (got == 0) {
            const size_t n = std::min<size_t>(65536, file.size() - at);
            if (n == 0) break;
            std::memcpy(ogg_sync_buffer(&sync, static_cast<long>(n)), file.data() + at, n);
            ogg_sync_wrote(&sync, static_cast<long>(n));
            at += n;
            continue;
        }
        if (got < 0 || ogg_page_serialno(&page) != serial || !(begun = begun || ogg_page_bos(&page)))
            continue;
        ogg_stream_pagein(&stream, &page);
        ogg_packet packet;
        for (int out; safe && packets < 3 && (out = ogg_stream_packetout(&stream, &packet)) != 0;) {
            static const unsigned char kSetup[7] = {5, 'v', 'o', 'r', 'b', 'i', 's'};
            if (out < 0) continue;
            ++packets;
            if (packet.bytes >= 7 && std::memcmp(packet.packet, kSetup, 7) == 0)
                safe = codebooksAreDecodable(packet);
        }
    }
    ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return safe;
}

// Checks the setup header of every link and logical stream vorbisfile may find. It looks for
// pages wherever they could start, not only where the previous one ended: vorbisfile bisects the
// file to find links and may land inside another page's body.
bool setupHeadersAreSafe(FILE* f) {
    const int64_t size = fileSize(f);
    std::vector<char> file(static_cast<size_t>(std::max<int64_t>(size, 0)));
    if (size < 0 || !readAt(f, 0, file.data(), file.size())) return false;
    int links = 0;
    for (size_t at = 0; at + 27 <= file.size(); ++at) {
        at = static_cast<size_t>(std::search(file.begin() + at, file.end(), kCapture, kCapture + 4) -
                                 file.begin());
        if (at + 27 > file.size() || !(file[at + 5] & 2)) continue;  // not a stream's first page
        if (++links > kMaxOggLinks || !linkSetupIsSafe(file, at)) return false;
    }
    return true;
}

// Reads until the decoder has nothing more, a chunk at a time: the header's frame count is the
// file's claim (a few forged bytes can claim days of audio), not what it holds.
bool decodeWithSndfile(const char* path, DKPcm& out) {
    SF_INFO sfinfo{};
    // Opened here, as a FIFO would hold libsndfile's own open for ever.
    std::FILE* file = plat::sys::openRegularFile(path);
    if (!file) return false;
    // A copy of our own for libsndfile to close, not handed down to children the player starts.
    SNDFILE* sf = sf_open_fd(::fcntl(fileno(file), F_DUPFD_CLOEXEC, 0), SFM_READ, &sfinfo, SF_TRUE);
    std::fclose(file);
    if (!sf) return false;
    const int channels = sfinfo.channels;
    bool ok = channels >= 1 && channels <= 2 && sfinfo.samplerate > 0;
    std::vector<int16_t> mono;
    std::vector<int> frames(ok ? kSndfileChunk * channels : 0);
    for (sf_count_t got; ok && (got = sf_readf_int(sf, frames.data(), kSndfileChunk)) > 0;) {
        // Constant FLAC frames decode to thousands of times their size, so a small file could
        // otherwise ask for any amount.
        out.tooLong = DKSoundTooLong((mono.size() + size_t(got)) * 2, sfinfo.samplerate, 2);
        ok = !out.tooLong;
        for (sf_count_t i = 0; ok && i < got; ++i) {
            // Full-scale 32-bit samples; the mean of two keeps the top 16 bits.
            int64_t sum = 0;
            for (int c = 0; c < channels; ++c) sum += frames[i * channels + c];
            mono.push_back(static_cast<int16_t>((sum / channels) >> 16));
        }
    }
    sf_close(sf);
    if (!ok) return false;
    out.channels = 1;
    out.bitsPerSample = 16;
    out.sampleRate = sfinfo.samplerate;
    toBytes(mono, out.data);
    return true;
}

}  // namespace

bool DKSoundTooLong(uint64_t bytes, int64_t rate, int bytesPerFrame) {
    if (bytes > kMaxSoundEffectBytes) return true;
    return rate > 0 && bytesPerFrame > 0 && bytes / bytesPerFrame > uint64_t(kMaxSoundEffectSeconds) * rate;
}

bool DKReadCafInfo(const std::string& path, DKCafInfo& info) {
    File f(plat::sys::openRegularFile(path));
    if (!f) return false;
    int64_t size = fileSize(f.get());
    uint8_t header[8];
    if (size < 8 || !readAt(f.get(), 0, header, 8) || be32(header) != fourCC("caff")) return false;
    bool haveDesc = false, haveData = false;
    int64_t at = 8;
    while (at + 12 <= size) {
        uint8_t chunk[12];
        if (!readAt(f.get(), at, chunk, 12)) return false;
        uint32_t type = be32(chunk);
        int64_t chunkSize = static_cast<int64_t>(be64(chunk + 4));
        int64_t body = at + 12;
        if (chunkSize < 0) {
            // Only the data chunk may run to the end of the file (size -1).
            if (type != fourCC("data")) return false;
            chunkSize = size - body;
        }
        if (chunkSize > size - body) {
            if (type != fourCC("data")) return false;
            chunkSize = size - body;  // a truncated file: take what is there
        }
        if (type == fourCC("desc")) {
            uint8_t d[32];
            if (chunkSize < 32 || !readAt(f.get(), body, d, 32)) return false;
            uint64_t rateBits = be64(d);
            std::memcpy(&info.sampleRate, &rateBits, 8);
            info.formatID = be32(d + 8);
            info.formatFlags = be32(d + 12);
            info.bytesPerPacket = be32(d + 16);
            info.framesPerPacket = be32(d + 20);
            info.channelsPerFrame = be32(d + 24);
            info.bitsPerChannel = be32(d + 28);
            haveDesc = true;
        } else if (type == fourCC("data")) {
            if (chunkSize < 4) return false;
            info.dataOffset = body + 4;  // after the edit count
            info.dataSize = chunkSize - 4;
            haveData = true;
        } else if (type == fourCC("pakt")) {
            uint8_t p[16];
            if (chunkSize >= 16 && readAt(f.get(), body, p, 16)) {
                info.validFrames = static_cast<int64_t>(be64(p + 8));
            }
        }
        at = body + chunkSize;
    }
    // A rate OpenAL takes (whole hertz, positive, an int); NaN fails both comparisons.
    return haveDesc && haveData && info.sampleRate >= 1 && info.sampleRate <= INT_MAX;
}

bool DKDecodeOggVorbis(const char* path, DKPcm& out) {
    FILE* f = plat::sys::openRegularFile(path);
    if (!f) return false;
    if (!setupHeadersAreSafe(f) || fseeko(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return false;
    }
    OggVorbis_File vf;
    ov_callbacks callbacks = {
        [](void* p, size_t s, size_t n, void* src) { return std::fread(p, s, n, static_cast<FILE*>(src)); },
        [](void* src, ogg_int64_t offset, int whence) {
            return src ? fseeko(static_cast<FILE*>(src), offset, whence) : -1;
        },
        [](void* src) { return std::fclose(static_cast<FILE*>(src)); },
        [](void* src) { return static_cast<long>(ftello(static_cast<FILE*>(src))); }};
    if (ov_open_callbacks(f, &vf, nullptr, 0, callbacks) < 0) {
        std::fclose(f);  // vorbisfile leaves the file to us when it fails
        return false;
    }
    std::vector<uint8_t>& pcm = out.data;
    pcm.clear();
    auto tooLong = [&](uint64_t bytes) {
        const vorbis_info* vi = ov_info(&vf, -1);
        return vi && DKSoundTooLong(bytes, vi->rate, 2 * vi->channels);
    };
    // The length the last granule position claims, refused before any decoding (six hours of
    // silence fit in a megabyte); a stream that claims less than it holds is stopped at the bound.
    const ogg_int64_t claimed = ov_pcm_total(&vf, -1);
    const vorbis_info* first = ov_info(&vf, -1);
    if (claimed > 0 && first && tooLong(uint64_t(claimed) * 2 * first->channels)) {
        ov_clear(&vf);
        out.tooLong = true;
        return false;
    }
    size_t used = 0;
    int bitstream = 0, retries = 0;
    for (;;) {
        if (pcm.size() - used == 0) pcm.resize(pcm.size() + kOggChunk);
        long n = ov_read(&vf, reinterpret_cast<char*>(pcm.data() + used), static_cast<int>(pcm.size() - used),
                         0 /* little-endian */, 2, 1, &bitstream);
        if (n > 0) {
            used += static_cast<size_t>(n);
            retries = 0;
            if (tooLong(used)) {  // a stream of tiny packets can decode to any size
                ov_clear(&vf);
                pcm = {};
                out.tooLong = true;
                return false;
            }
        } else if (n == 0) {
            break;
        } else {
            std::printf("Ogg read had an error");
            std::fflush(stdout);
            if (++retries > kMaxOggRetries) break;
        }
    }
    pcm.resize(used);
    vorbis_info* vi = ov_info(&vf, -1);
    out.channels = vi ? vi->channels : 0;
    out.sampleRate = vi ? static_cast<int>(vi->rate) : 0;
    out.bitsPerSample = 16;
    ov_clear(&vf);  // closes the file
    return true;
}

DKCafStatus DKReadCafLinearPcm(const char* path, DKPcm& out) {
    DKCafInfo info;
    if (!DKReadCafInfo(path, info)) return DKCafStatus::kFailed;
    if (info.formatID != fourCC("lpcm")) return DKCafStatus::kOtherFormat;
    if (DKSoundTooLong(static_cast<uint64_t>(info.dataSize), static_cast<int64_t>(info.sampleRate),
                       static_cast<int>(info.channelsPerFrame * info.bitsPerChannel / 8))) {
        out.tooLong = true;
        return DKCafStatus::kFailed;
    }
    if (!readCafData(path, info, out.data)) return DKCafStatus::kFailed;
    out.channels = static_cast<int>(info.channelsPerFrame);
    out.bitsPerSample = static_cast<int>(info.bitsPerChannel);
    out.sampleRate = static_cast<int>(info.sampleRate);
    bool bigEndian = (info.formatFlags & 2) == 0;
    bool isFloat = (info.formatFlags & 1) != 0;
    if (bigEndian && out.bitsPerSample > 8) {
        // The platform's reader gives up on these; a 16-bit file only needs its bytes swapped.
        if (out.bitsPerSample != 16 || isFloat) return DKCafStatus::kFailed;
        out.data.resize(out.data.size() & ~size_t(1));
        for (size_t i = 0; i + 1 < out.data.size(); i += 2) std::swap(out.data[i], out.data[i + 1]);
    }
    if (out.bitsPerSample == 8 && !isFloat) {
        // CAF integer samples are signed; OpenAL's 8-bit formats are unsigned.
        for (uint8_t& b : out.data) b ^= 0x80;
    }
    return DKCafStatus::kLinearPcm;
}

bool DKDecodeToMono16(const char* path, DKPcm& out) {
    DKCafInfo info;
    if (DKReadCafInfo(path, info) && info.formatID == fourCC("ima4")) return decodeCafIma4(path, info, out);
    return decodeWithSndfile(path, out);
}

std::vector<int16_t> DKDecodeIma4(const uint8_t* data, size_t bytes, int channels) {
    static const int kIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
    static const int kStep[89] = {
        7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
        31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
        130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
        544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
        2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
        9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    constexpr size_t kBlock = 34, kFrames = 64;
    const size_t packetBytes = kBlock * channels;
    const size_t packets = channels > 0 ? bytes / packetBytes : 0;
    std::vector<int16_t> out(packets * kFrames * channels);
    for (size_t p = 0; p < packets; ++p) {
        for (int c = 0; c < channels; ++c) {
            const uint8_t* block = data + p * packetBytes + c * kBlock;
            int header = (block[0] << 8) | block[1];
            int predictor = static_cast<int16_t>(header & 0xff80);
            int index = std::min(header & 0x7f, 88);
            for (size_t i = 0; i < kFrames; ++i) {
                int nibble = (block[2 + i / 2] >> ((i & 1) * 4)) & 0x0f;
                int step = kStep[index];
                int diff = step >> 3;
                if (nibble & 1) diff += step >> 2;
                if (nibble & 2) diff += step >> 1;
                if (nibble & 4) diff += step;
                if (nibble & 8) diff = -diff;
                predictor = clamp16(predictor + diff);
                index = std::clamp(index + kIndex[nibble], 0, 88);
                out[(p * kFrames + i) * channels + c] = static_cast<int16_t>(predictor);
            }
        }
    }
    return out;
}
