#include "platform/host/PlainNumbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace plat::host {

bool parsePlainDecimal(std::string_view word, bool allowSign, double* out) {
    size_t i = 0;
    if (allowSign && i < word.size() && word[i] == '-') ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < word.size(); ++i) {
        if (word[i] >= '0' && word[i] <= '9')
            ++digits;
        else if (word[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    if (digits == 0) return false;
    *out = std::strtod(std::string(word).c_str(), nullptr);
    return std::isfinite(*out);
}

bool parsePlainWhole(std::string_view word, long low, long high, long* out) {
    if (word.empty() || word.size() > 10) return false;
    long value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return false;
    *out = value;
    return true;
}

}  // namespace plat::host
