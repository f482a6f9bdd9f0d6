#include "platform/ui/ViewText.h"

#include <glib.h>

#include "platform/foundation/Log.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
}

bool isViewText(std::string_view text) {
    // With a length, GLib counts a NUL as invalid too.
    return g_utf8_validate_len(text.data(), text.size(), nullptr);
}

std::string viewText(std::string text, const char* view) {
    if (isViewText(text)) return text;
    std::string clean;
    clean.reserve(text.size() + 8);
    size_t replaced = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* bad = nullptr;
        if (g_utf8_validate_len(p, static_cast<gsize>(end - p), &bad)) {
            clean.append(p, end);
            break;
        }
        clean.append(p, bad);
        clean += kReplacement;
        ++replaced;
        p = bad + 1;
    }
    // The text as shown, so an author can find where it came from.
    if (view)
        foundation::log("text: %s: %zu byte%s not UTF-8 (or NUL) shown as U+FFFD: %s", view, replaced,
                        replaced == 1 ? "" : "s", traceable(clean).c_str());
    return clean;
}

}  // namespace plat::ui
