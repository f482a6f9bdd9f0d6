#include "orbad/richmedia/OrbadExpandableBackgroundView.h"

namespace orbad {

namespace {

// A control that draws nothing of its own: its background colour and its touches.
class Veil : public plat::ui::Button {
public:
    using Button::Button;
    const char* className() const override { return "UIControl"; }
};

}  // namespace

OrbadExpandableBackgroundView::OrbadExpandableBackgroundView(const plat::ui::Rect& frame,
                                                             std::shared_ptr<plat::ui::Image> image, bool isTop)
    : View(frame), m_originalFrame(frame), m_isTop(isTop) {
    const plat::ui::Rect inside{0, 0, frame.width, frame.height};
    m_imageView = std::make_shared<plat::ui::ImageView>(inside);
    m_imageView->setImage(std::move(image));
    // The upper part shows the picture's top, the lower its bottom: each stays over the place it
    // covered on the old screen.
    m_imageView->setContentMode(isTop ? plat::ui::kContentModeTop : plat::ui::kContentModeBottom);
    m_imageView->setClipsToBounds(true);
    m_imageView->setUserInteractionEnabled(false);
    addSubview(m_imageView);
    m_darkener = std::make_shared<Veil>(inside);
    m_darkener->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    m_darkener->setAlpha(0);
    m_darkener->addTarget(this, [this](plat::ui::Button&) {
        if (m_delegate) m_delegate->obExpandableBackgroundViewTouched();
    });
    addSubview(m_darkener);
}

OrbadExpandableBackgroundView::~OrbadExpandableBackgroundView() {
    m_delegate = nullptr;
    m_darkener->removeTarget(this);
}

void OrbadExpandableBackgroundView::darken() {
    m_darkener->setAlpha(kOrbadDarkenedAlpha);
}

void OrbadExpandableBackgroundView::lighten() {
    m_darkener->setAlpha(0);
}

void OrbadExpandableBackgroundView::moveToNewLocation(const plat::ui::Rect& frame) {
    setFrame(frame);
    const plat::ui::Rect veil = m_darkener->frame();
    m_darkener->setFrame({veil.x, veil.y, frame.width, frame.height});
}

void OrbadExpandableBackgroundView::returnToOriginalLocation() {
    setFrame(m_originalFrame);
    const plat::ui::Rect picture = m_imageView->frame();
    m_imageView->setFrame({picture.x, picture.y, m_originalFrame.width, m_originalFrame.height});
    const plat::ui::Rect veil = m_darkener->frame();
    m_darkener->setFrame({veil.x, veil.y, m_originalFrame.width, m_originalFrame.height});
    lighten();
}

}  // namespace orbad
