#include "platform/ui/TextMeasure.h"

#include <algorithm>
#include <cmath>

namespace plat::ui {

Font fittingFont(const std::string& text, const Font& font, double width, double minimumSize) {
    Font fitted = font;
    const double natural = textWidth(text, font);
    if (natural <= width || natural <= 0 || font.size <= minimumSize) return fitted;
    // Widths grow about linearly with the size: start at the proportional size, then step down
    // until the text really fits, or up while a larger size still does (hinting rounds widths).
    double size = std::floor(font.size * width / natural * 10) / 10;
    for (size = std::max(size, minimumSize);; size = std::max(size - 0.1, minimumSize)) {
        fitted.size = size;
        if (size <= minimumSize || textWidth(text, fitted) <= width) break;
    }
    if (textWidth(text, fitted) > width) return fitted;  // at the minimum, still too wide
    for (Font larger = fitted; (larger.size = std::round((larger.size + 0.1) * 10) / 10) < font.size;) {
        if (textWidth(text, larger) > width) break;
        fitted = larger;
    }
    return fitted;
}

Size measureText(const std::string& text, const Font& font, Size bounds, int lines) {
    if (text.empty() || bounds.width <= 0) return {0, 0};
    const double height = textHeight(text, font, bounds.width, lines);
    const double width = std::min(textWidth(text, font), bounds.width);
    return {width, std::min(height, bounds.height)};
}

}  // namespace plat::ui
