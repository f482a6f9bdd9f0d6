// The platform's spinning activity indicator: twelve spokes fading round, turning while animating.
#pragma once

#include "platform/ui/View.h"

namespace plat::ui {

enum class ActivityIndicatorStyle { WhiteLarge, White, Gray };

class ActivityIndicator : public View {
public:
    // 37 x 37 points for the large style, 20 x 20 for the others, at the origin. Hidden while stopped.
    explicit ActivityIndicator(ActivityIndicatorStyle style = ActivityIndicatorStyle::White);
    const char* className() const override { return "UIActivityIndicatorView"; }

    ActivityIndicatorStyle style() const { return m_style; }
    // The spokes' colour: white, or grey for the gray style, unless set.
    const Color& color() const { return m_color; }
    void setColor(const Color& color);

    // Shows the view and turns it once a second under the layer key "spin".
    void startAnimating();
    // Stops the turn and, when hidesWhenStopped (the default), hides the view.
    void stopAnimating();
    bool isAnimating() const { return m_animating; }
    bool hidesWhenStopped() const { return m_hidesWhenStopped; }
    void setHidesWhenStopped(bool hides);

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;

private:
    ActivityIndicatorStyle m_style;
    Color m_color;
    bool m_animating = false;
    bool m_hidesWhenStopped = true;
};

}  // namespace plat::ui
