// The platform's gradient layer: colours spread evenly along the line from the start point to the
// end point (unit coordinates of the bounds), drawn over the whole bounds. Here it is a view that
// takes no touches, so a button under it still gets its taps.
#pragma once

#include <vector>

#include "platform/ui/View.h"

namespace plat::ui {

class GradientLayer : public View {
public:
    GradientLayer();
    const char* className() const override { return "CAGradientLayer"; }

    const std::vector<Color>& colors() const { return m_colors; }
    void setColors(std::vector<Color> colors);
    // (0.5, 0) to (0.5, 1) unless set: top to bottom.
    Point startPoint() const { return m_start; }
    Point endPoint() const { return m_end; }
    void setStartPoint(Point point);
    void setEndPoint(Point point);

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;

private:
    std::vector<Color> m_colors;
    Point m_start{0.5, 0};
    Point m_end{0.5, 1};
};

}  // namespace plat::ui
