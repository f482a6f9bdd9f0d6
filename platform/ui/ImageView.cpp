#include "platform/ui/ImageView.h"

#include <algorithm>

#include "platform/foundation/Log.h"

namespace plat::ui {

ImageView::ImageView() {
    setUserInteractionEnabled(false);
}

ImageView::ImageView(const Rect& frame, const std::string& path) : View(frame) {
    setUserInteractionEnabled(false);
    if (!path.empty()) setImage(path);
}

void ImageView::setImage(const std::string& path) {
    setImage(std::shared_ptr<Image>());
    m_unread = path;
}

void ImageView::setImage(std::shared_ptr<Image> image) {
    m_image = std::move(image);
    m_unread.clear();
    setNeedsDisplay();
}

const std::shared_ptr<Image>& ImageView::image() const {
    if (!m_unread.empty()) {
        std::string error;
        m_image = Image::fromFile(m_unread, &error);
        if (!m_image) foundation::log("image view: %s", error.c_str());
        m_unread.clear();
    }
    return m_image;
}

void ImageView::setContentMode(int mode) {
    m_contentMode = mode;
    setNeedsDisplay();
}

void ImageView::setAnimationImages(std::vector<std::shared_ptr<Image>> images) {
    const bool animating = isAnimating();
    stopAnimating();
    m_animationImages = std::move(images);
    if (animating) startAnimating();
}

double ImageView::frameDuration() const {
    if (m_animationImages.empty()) return 0;
    return m_animationDuration > 0 ? m_animationDuration / static_cast<double>(m_animationImages.size()) : 1.0 / 30;
}

void ImageView::startAnimating() {
    if (m_animationImages.empty() || isAnimating()) return;
    foundation::RunLoop& loop = foundation::RunLoop::main();
    m_animationStart = loop.now();
    m_frameTimer = loop.addRepeatingTimer(frameDuration(), [this] {
        if (currentFrame() < 0) stopAnimating();
        setNeedsDisplay();
    });
    setNeedsDisplay();
}

void ImageView::stopAnimating() {
    if (!isAnimating()) return;
    m_frameTimer.invalidate();
    setNeedsDisplay();
}

int ImageView::currentFrame() const {
    if (!isAnimating()) return -1;
    const double each = frameDuration();
    const auto passed = static_cast<long long>((foundation::RunLoop::main().now() - m_animationStart) / each + 1e-9);
    const auto count = static_cast<long long>(m_animationImages.size());
    if (m_animationRepeatCount > 0 && passed >= count * m_animationRepeatCount) return -1;
    return static_cast<int>(passed % count);
}

void ImageView::draw(cairo_t* cr) {
    const int frame = currentFrame();
    const Image* shown = frame >= 0 ? m_animationImages[static_cast<size_t>(frame)].get() : image().get();
    if (!shown) return;
    const Rect b = bounds();
    const Size size = shown->size();
    if (m_contentMode == kContentModeScaleAspectFit && size.width > 0 && size.height > 0) {
        const double scale = std::min(b.width / size.width, b.height / size.height);
        const double w = size.width * scale, h = size.height * scale;
        drawImage(cr, *shown, {(b.width - w) / 2, (b.height - h) / 2, w, h});
    } else if (m_contentMode == kContentModeCenter) {
        drawImage(cr, *shown, {(b.width - size.width) / 2, (b.height - size.height) / 2, size.width, size.height});
    } else if (m_contentMode == kContentModeTop) {
        drawImage(cr, *shown, {(b.width - size.width) / 2, 0, size.width, size.height});
    } else if (m_contentMode == kContentModeBottom) {
        drawImage(cr, *shown, {(b.width - size.width) / 2, b.height - size.height, size.width, size.height});
    } else {
        drawImage(cr, *shown, b);
    }
}

std::optional<std::string> ImageView::dumpImage() const {
    if (!image()) return std::nullopt;
    return m_image->fileName();
}

}  // namespace plat::ui
