#include "platform/ui/ImageView.h"

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
    std::string error;
    std::shared_ptr<Image> image = path.empty() ? nullptr : Image::fromFile(path, &error);
    if (!path.empty() && !image) foundation::log("image view: %s", error.c_str());
    setImage(std::move(image));
}

void ImageView::setImage(std::shared_ptr<Image> image) {
    m_image = std::move(image);
    setNeedsDisplay();
}

void ImageView::draw(cairo_t* cr) {
    if (m_image) drawImage(cr, *m_image, bounds());
}

std::optional<std::string> ImageView::dumpImage() const {
    if (!m_image) return std::nullopt;
    return m_image->fileName();
}

}  // namespace plat::ui
