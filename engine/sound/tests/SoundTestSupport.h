// Decoded sounds for the sound tests, over the tone and files of port/tests/AudioTestSupport.
#pragma once

#include <ogg/ogg.h>

#include <cstring>
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

// A minimal Ogg Vorbis stream written bit by bit: one mono 8 kHz channel, 256-sample blocks, a
// floor 1 with only its two end points, and a residue of type 0 over 64-sample partitions. Its
// class book (codebook 0) has two entries, of 1 and `classBookLength2` bits (1 fills the code
// tree); its one class decodes through codebook 1, of `stageBookDim` dimensions (entries*dim
// values, all zero). Then four audio packets, each with a non-zero floor and all residue
// entries 0.
inline std::string tinyOggVorbis(int stageBookDim, int classBookLength2) {
    const int packets = 4;
    struct Bits {
        oggpack_buffer b;
        Bits() { oggpack_writeinit(&b); }
        ~Bits() { oggpack_writeclear(&b); }
        Bits& operator()(unsigned long value, int bits) {
            oggpack_write(&b, value, bits);
            return *this;
        }
        Bits& text(const char* s) {
            for (; *s; ++s) (*this)(static_cast<unsigned char>(*s), 8);
            return *this;
        }
    };
    auto book = [](Bits& w, int dim, int lookup, int length2) {
        w(0x564342, 24)(dim, 16)(2, 24)(0, 1)(0, 1)(0, 5)(length2 - 1, 5)(lookup, 4);  // 2 entries
        if (lookup != 2) return;
        w(0, 32)(0, 32)(0, 4)(0, 1);  // min, delta, 1-bit values, not a sequence
        for (int i = 0; i < 2 * dim; ++i) w(0, 1);
    };
    Bits id, comment, setup;
    id(1, 8).text("vorbis")(0, 32)(1, 8)(8000, 32)(0, 32)(0, 32)(0, 32)(8, 4)(8, 4)(1, 1);
    comment(3, 8).text("vorbis")(0, 32)(0, 32)(1, 1);
    setup(5, 8).text("vorbis")(1, 8);      // two codebooks
    book(setup, 1, 0, classBookLength2);   // 0: the residue's class book
    book(setup, stageBookDim, 2, 1);       // 1: its stage book
    setup(0, 6)(0, 16);                    // one time-domain entry
    setup(0, 6)(1, 16)(0, 5)(0, 2)(8, 4);  // one floor 1: no partitions, range 256
    setup(0, 6)(0, 16)(0, 24)(128, 24)(63, 24)(0, 6)(0, 8)(1, 3)(0, 1)(1, 8);  // the residue
    setup(0, 6)(0, 16)(0, 1)(0, 1)(0, 2)(0, 8)(0, 8)(0, 8);                    // one mapping
    setup(0, 6)(0, 1)(0, 16)(0, 16)(0, 8)(1, 1);                               // one mode
    ogg_stream_state os;
    ogg_stream_init(&os, 1);
    std::string out;
    auto put = [&](Bits& w, long number, int64_t granule, bool last) {
        ogg_packet p{oggpack_get_buffer(&w.b), oggpack_bytes(&w.b), number == 0, last, granule, number};
        ogg_stream_packetin(&os, &p);
        for (ogg_page page; (number == 2 || last) && ogg_stream_flush(&os, &page);) {  // headers alone
            out.append(reinterpret_cast<char*>(page.header), page.header_len);
            out.append(reinterpret_cast<char*>(page.body), page.body_len);
        }
    };
    put(id, 0, 0, false);
    put(comment, 1, 0, false);
    put(setup, 2, 0, false);
    for (int i = 0; i < packets; ++i) {
        Bits audio;
        audio(0, 1)(1, 1)(128, 8)(128, 8);             // audio, a flat floor
        for (int j = 0; j < 2 * 65; ++j) audio(0, 1);  // two partitions: class entry, 64 stage entries
        put(audio, 3 + i, 128 * i, i + 1 == packets);
    }
    ogg_stream_clear(&os);
    return out;
}

// Sets a player's controls: those in `on` true, the others false.
inline void setControls(SGSoundPlayerNode& node, std::initializer_list<SGBooleanPort*> on) {
    for (SGBooleanPort* p : {&node.trigger, &node.pause, &node.resume, &node.stop}) p->setValue(false);
    for (SGBooleanPort* p : on) p->setValue(true);
}

}  // namespace dktest
