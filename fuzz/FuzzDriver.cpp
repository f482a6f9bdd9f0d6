// The fuzz targets' main() where libFuzzer is not available (GCC builds): feeds each seed file as
// it is, then a fixed number of deterministic mutations of them, to LLVMFuzzerTestOneInput.
// Takes libFuzzer's form of command line, so one test line serves both:
//   fuzz_NAME [-runs=N] [-seed=N] FILE_OR_DIRECTORY...
// An input that kills the process (under the sanitizers) is saved as "crash-input" in the current
// directory first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)());

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxSize = 1 << 20;
const Bytes* g_current = nullptr;

void saveCurrent() {
    if (!g_current) return;
    std::ofstream("crash-input", std::ios::binary)
        .write(reinterpret_cast<const char*>(g_current->data()),
               static_cast<std::streamsize>(g_current->size()));
    std::fputs("fuzz driver: the input is saved as crash-input\n", stderr);
}

void run(const Bytes& input) {
    g_current = &input;
    LLVMFuzzerTestOneInput(input.data(), input.size());
    g_current = nullptr;
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Byte and word values that sit on the edges parsers check: zero, sign bits, all ones.
void mutate(Bytes& b, std::mt19937& rng) {
    static const uint8_t kBytes[] = {0, 1, 0x7f, 0x80, 0xff};
    static const uint32_t kWords[] = {0, 1, 0xffffffffu, 0x7fffffffu, 0x80000000u, 0x10000u, 0xffffu};
    auto below = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
    switch (rng() % 7) {
        case 0:
            if (!b.empty()) b[below(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty()) b[below(b.size())] = kBytes[below(std::size(kBytes))];
            break;
        case 2:
            if (b.size() >= 4) {
                uint32_t w = kWords[below(std::size(kWords))];
                size_t at = below(b.size() - 3);
                bool bigEndian = rng() % 2;
                for (int i = 0; i < 4; ++i)
                    b[at + i] = static_cast<uint8_t>(w >> (8 * (bigEndian ? 3 - i : i)));
            }
            break;
        case 3:
            if (!b.empty()) {
                size_t at = below(b.size());
                b.erase(b.begin() + at, b.begin() + std::min(b.size(), at + 1 + below(64)));
            }
            break;
        case 4:
            if (!b.empty() && b.size() < kMaxSize) {
                size_t at = below(b.size());
                Bytes piece(b.begin() + at, b.begin() + std::min(b.size(), at + 1 + below(64)));
                b.insert(b.begin() + below(b.size() + 1), piece.begin(), piece.end());
            }
            break;
        case 5:
            b.resize(below(b.size() + 1));
            break;
        default:
            if (b.size() < kMaxSize)
                for (size_t i = 0, n = 1 + below(8); i < n; ++i)
                    b.insert(b.begin() + below(b.size() + 1), static_cast<uint8_t>(rng()));
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(saveCurrent);
    long runs = 0;
    unsigned seed = 1;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("-runs=", 0) == 0) {
            runs = std::strtol(arg.c_str() + 6, nullptr, 10);
        } else if (arg.rfind("-seed=", 0) == 0) {
            seed = static_cast<unsigned>(std::strtoul(arg.c_str() + 6, nullptr, 10));
        } else if (arg[0] == '-') {
            continue;  // libFuzzer's other options
        } else if (std::filesystem::is_directory(arg)) {
            std::vector<std::filesystem::path> inDir;
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) inDir.push_back(entry.path());
            std::sort(inDir.begin(), inDir.end());  // the order, and so the run, is the same each time
            files.insert(files.end(), inDir.begin(), inDir.end());
        } else {
            files.emplace_back(arg);
        }
    }

    std::vector<Bytes> seeds;
    for (const auto& f : files) seeds.push_back(readFile(f));
    if (seeds.empty()) seeds.emplace_back();
    for (const Bytes& s : seeds) run(s);

    std::mt19937 rng(seed);
    for (long i = 0; i < runs; ++i) {
        Bytes input = seeds[static_cast<size_t>(i) % seeds.size()];
        for (unsigned n = 1 + rng() % 4; n > 0; --n) mutate(input, rng);
        run(input);
    }
    std::printf("fuzz driver: %zu seeds and %ld mutations run\n", seeds.size(), runs);
    return 0;
}
