// Text measured as labels draw it (Pango with the labels' fonts): what a layout needs before it
// places labels.
#pragma once

#include <string>

#include "platform/ui/Label.h"

namespace plat::ui {

// `font` made smaller, when `text` on one line is wider than `width`, until it fits or reaches
// `minimumSize` (never grown; sizes in steps of a tenth of a point).
Font fittingFont(const std::string& text, const Font& font, double width, double minimumSize);

// The size `text` takes within `bounds`: wrapped at `bounds.width` into at most `lines` lines (0:
// any; 1: one line cut), its height no more than `bounds.height`.
Size measureText(const std::string& text, const Font& font, Size bounds, int lines);

}  // namespace plat::ui
