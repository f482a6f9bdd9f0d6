// Text from outside (a game's data, a script, a device) as every text view holds it and Pango is
// given it: UTF-8 with no NUL. Pango stops at a NUL, warns on bytes that are not UTF-8, and sizes
// what it hands back by characters it counted its own way: a view whose text breaks the rule
// indexes past its end. Text a game or a screen gives a label, a button, a picker's row or a text
// view is cleaned as it is set, each byte that is not part of a character (a NUL too) becoming
// U+FFFD, logged "text: VIEW: ...: TEXT"; typed text that breaks the rule is refused whole, and so
// is an input script's quoted text; what only draws (a web view's address) is cleaned as laid out.
#pragma once

#include <string>
#include <string_view>

namespace plat::ui {

// UTF-8 (no overlong forms, no surrogates) with no NUL.
bool isViewText(std::string_view text);

// `text` as a view holds it: unchanged when it is view text; else each byte that is not part of a
// UTF-8 character, and each NUL, becomes U+FFFD, so what follows is neither lost nor cut off. A
// named `view` logs one line for it ("text: VIEW: ...: TEXT AS SHOWN"); none (drawing) says nothing.
std::string viewText(std::string text, const char* view = nullptr);

}  // namespace plat::ui
