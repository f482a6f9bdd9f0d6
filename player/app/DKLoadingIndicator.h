// The scene-loading indicator's two views: a rounded box and the spinner inside it.
#pragma once

#include <memory>

#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"

// A rounded rectangle, filled then stroked; clear behind its corners.
class DKRoundedRectView : public plat::ui::View {
public:
    DKRoundedRectView();
    explicit DKRoundedRectView(const plat::ui::Rect& frame);
    const char* className() const override { return "DKRoundedRectView"; }

    const plat::ui::Color& strokeColor() const { return m_strokeColor; }
    void setStrokeColor(const plat::ui::Color& color);
    const plat::ui::Color& rectColor() const { return m_rectColor; }
    void setRectColor(const plat::ui::Color& color);
    double strokeWidth() const { return m_strokeWidth; }
    void setStrokeWidth(double width);
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius);

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;

private:
    plat::ui::Color m_strokeColor{0, 0, 0, 1};
    plat::ui::Color m_rectColor{0, 0, 0, 1};
    double m_strokeWidth = 0;
    double m_cornerRadius = 8.0;
};

// The bundle's "loading_spinner.png" turning once every 2 seconds while animating; hidden otherwise.
class DKLoadingSpinner : public plat::ui::View {
public:
    explicit DKLoadingSpinner(const plat::ui::Rect& frame);
    const char* className() const override { return "DKLoadingSpinner"; }

    static constexpr const char* kRotationAnimationKey = "rotationAnimation";

    const std::shared_ptr<plat::ui::ImageView>& loadingSpinner() const { return m_loadingSpinner; }
    void startAnimating();
    void stopAnimating();

private:
    std::shared_ptr<plat::ui::ImageView> m_loadingSpinner;
};
