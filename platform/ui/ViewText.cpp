#include "platform/ui/ViewText.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/UTF8.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

bool isViewText(std::string_view text) {
    return text.find('\0') == std::string_view::npos && foundation::utf8::valid(text);
}

std::string viewText(std::string text, const char* view) {
    if (isViewText(text)) return text;
    size_t replaced = 0;
    std::string clean = foundation::utf8::replaceInvalid(text, foundation::utf8::Nul::Replace, &replaced);
    // The text as shown, so an author can find where it came from.
    if (view)
        foundation::log("text: %s: %zu byte%s not UTF-8 (or NUL) shown as U+FFFD: %s", view, replaced,
                        replaced == 1 ? "" : "s", traceable(clean).c_str());
    return clean;
}

}  // namespace plat::ui
