// One slice of the picture behind an expanded ad: the part of the old screen above the ad, the part
// below it, or the whole screen. It can be moved and stretched, darkened under a black veil, and put
// back where it was; a touch on it is reported to its delegate. Main thread only.
#pragma once

#include <memory>

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"

namespace orbad {

class OrbadExpandableBackgroundViewDelegate {
public:
    virtual ~OrbadExpandableBackgroundViewDelegate() = default;
    virtual void obExpandableBackgroundViewTouched() = 0;
};

// The veil's alpha when darkened.
inline constexpr double kOrbadDarkenedAlpha = 0.5;

class OrbadExpandableBackgroundView : public plat::ui::View {
public:
    // Made with std::make_shared. The picture is pinned to the top of the slice when `isTop`, to
    // its bottom otherwise, and cut to the slice's bounds.
    OrbadExpandableBackgroundView(const plat::ui::Rect& frame, std::shared_ptr<plat::ui::Image> image, bool isTop);
    ~OrbadExpandableBackgroundView() override;
    const char* className() const override { return "OrbadExpandableBackgroundView"; }

    // Not owned; the owner clears it before it goes.
    OrbadExpandableBackgroundViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(OrbadExpandableBackgroundViewDelegate* delegate) { m_delegate = delegate; }
    const plat::ui::Rect& originalFrame() const { return m_originalFrame; }
    void setOriginalFrame(const plat::ui::Rect& frame) { m_originalFrame = frame; }
    bool isTop() const { return m_isTop; }

    // The veil's alpha to 0.5 or 0, animated inside an open animation block.
    void darken();
    void lighten();
    // The frame becomes `frame`; the veil keeps its origin and takes the new size.
    void moveToNewLocation(const plat::ui::Rect& frame);
    // Back to the original frame, picture and veil sized to it, the veil lifted.
    void returnToOriginalLocation();

    plat::ui::ImageView& imageView() const { return *m_imageView; }
    plat::ui::Button& darkener() const { return *m_darkener; }

private:
    OrbadExpandableBackgroundViewDelegate* m_delegate = nullptr;
    plat::ui::Rect m_originalFrame;
    std::shared_ptr<plat::ui::ImageView> m_imageView;
    std::shared_ptr<plat::ui::Button> m_darkener;
    bool m_isTop = false;
};

}  // namespace orbad
