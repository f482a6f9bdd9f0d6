#include "platform/sys/Excerpt.h"

namespace plat::sys {

std::size_t showAsIs(std::string_view rest, std::string& out) {
    std::size_t n = 1;
    if ((static_cast<unsigned char>(rest[0]) & 0xC0) == 0xC0)
        while (n < rest.size() && n < 4 && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80) ++n;
    out.append(rest.substr(0, n));
    return n;
}

std::string excerpt(std::string_view text, const ExcerptShow& show, std::string_view closing) {
    std::string out, piece;
    std::size_t at = 0;
    while (at < text.size()) {
        piece.clear();
        const std::size_t taken = show ? show(text.substr(at), piece) : showAsIs(text.substr(at), piece);
        if (out.size() + piece.size() > kExcerptLength) break;
        out += piece;
        at += taken;
    }
    out.append(closing);
    if (at < text.size()) out += "... (" + std::to_string(text.size() - at) + " more bytes)";
    return out;
}

}  // namespace plat::sys
