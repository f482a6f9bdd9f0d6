// A view showing one picture (stretched to its bounds unless another content mode is set), or a
// sequence of pictures played as frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace plat::ui {

// The platform's content modes that image views draw; any other value draws as ScaleToFill.
// Top and Bottom keep the picture's size, centred across and pinned to that edge.
enum ContentMode {
    kContentModeScaleToFill = 0,
    kContentModeScaleAspectFit = 1,
    kContentModeCenter = 4,
    kContentModeTop = 5,
    kContentModeBottom = 6,
};

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

    int contentMode() const { return m_contentMode; }
    void setContentMode(int mode);

    // Frames: `duration` seconds for the whole sequence (0: a thirtieth of a second a frame),
    // played `repeatCount` times (0: endlessly) once started; the image shows again when they stop.
    const std::vector<std::shared_ptr<Image>>& animationImages() const { return m_animationImages; }
    void setAnimationImages(std::vector<std::shared_ptr<Image>> images);
    double animationDuration() const { return m_animationDuration; }
    void setAnimationDuration(double seconds) { m_animationDuration = seconds; }
    int animationRepeatCount() const { return m_animationRepeatCount; }
    void setAnimationRepeatCount(int count) { m_animationRepeatCount = count; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_frameTimer.isValid(); }
    // The frame on screen while animating, else -1.
    int currentFrame() const;
    // Seconds a frame shows: the duration over the number of frames.
    double frameDuration() const;

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    // The image's file name.
    std::optional<std::string> dumpImage() const override;

private:
    mutable std::shared_ptr<Image> m_image;
    mutable std::string m_unread;  // the path still to read
    int m_contentMode = kContentModeScaleToFill;
    std::vector<std::shared_ptr<Image>> m_animationImages;
    double m_animationDuration = 0;
    int m_animationRepeatCount = 0;
    double m_animationStart = 0;
    foundation::Timer m_frameTimer;
};

}  // namespace plat::ui
