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

void ImageView::draw(cairo_t* cr) {
    if (image()) drawImage(cr, *m_image, bounds());
}

std::optional<std::string> ImageView::dumpImage() const {
    if (!image()) return std::nullopt;
    return m_image->fileName();
}

}  // namespace plat::ui
