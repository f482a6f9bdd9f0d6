// What a message quotes from its input (a line, a value, an error text) is cut to a few hundred
// characters, with the count of what was left out: a 16 MiB line makes a line of a few hundred
// characters, not one of 16 MiB or more.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace plat::sys {

// The most characters a message shows of one text it quotes (before the note of what was left out).
inline constexpr std::size_t kExcerptLength = 300;

// How a message shows its input: takes the first bytes of `rest` (at least one), appends their
// shown form to `out` and says how many it took.
using ExcerptShow = std::function<std::size_t(std::string_view rest, std::string& out)>;

// One UTF-8 character of `rest` as it is (a byte of a broken one alone): the default show.
std::size_t showAsIs(std::string_view rest, std::string& out);

// `text` as a message shows it (by `show`; by default as it is, one UTF-8 character at a time),
// then `closing` (a closing quote), then, when the shown form would pass kExcerptLength, the
// note "... (N more bytes)" in place of the rest, N counting the bytes of `text` left out.
std::string excerpt(std::string_view text, const ExcerptShow& show = {}, std::string_view closing = {});

}  // namespace plat::sys
