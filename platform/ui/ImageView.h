// A view showing one picture stretched to its bounds (the platform's default content mode).
#pragma once

#include <memory>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace plat::ui {

class ImageView : public View {
public:
    ImageView();
    explicit ImageView(const Rect& frame, const std::string& path = {});
    const char* className() const override { return "UIImageView"; }

    // Read when first drawn or asked for, so a view never composited (a headless start-up screen)
    // costs no decoding; a file that cannot be read leaves no image (nothing drawn), said on the log.
    void setImage(const std::string& path);
    void setImage(std::shared_ptr<Image> image);
    const std::shared_ptr<Image>& image() const;

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    // The image's file name.
    std::optional<std::string> dumpImage() const override;

private:
    mutable std::shared_ptr<Image> m_image;
    mutable std::string m_unread;  // the path still to read
};

}  // namespace plat::ui
