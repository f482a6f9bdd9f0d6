// A button: an image stretched to its bounds under a centred title, and actions sent when a touch
// that began on it ends inside it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace plat::ui {

class Button : public View {
public:
    using Action = std::function<void(Button&)>;

    Button() = default;
    explicit Button(const Rect& frame) : View(frame) {}
    const char* className() const override { return "UIButton"; }

    const std::string& title() const { return m_title; }
    void setTitle(std::string title);
    // White unless set; Helvetica-Bold 15 unless set.
    void setTitleColor(const Color& color);
    void setFont(Font font);
    // Read at once; a file that cannot be read leaves none (said on the log).
    void setImage(const std::string& path);
    const std::shared_ptr<Image>& image() const { return m_image; }
    void setImage(std::shared_ptr<Image> image);
    // Stretched to the bounds under the image.
    const std::shared_ptr<Image>& backgroundImage() const { return m_backgroundImage; }
    void setBackgroundImage(std::shared_ptr<Image> image);

    // Touch up inside: `action` runs for each such touch, in the order the targets were added. A
    // target identifies its actions for removeTarget (null removes none).
    void addTarget(const void* target, Action action);
    void removeTarget(const void* target);
    void sendActions();
    // A touch that began on the button is down.
    bool isTracking() const { return m_tracking; }
    // Set while a tracked touch is down inside the bounds; a drag out clears it, a drag back in
    // sets it again. Overrides run for every change the button itself makes.
    bool isHighlighted() const { return m_highlighted; }
    virtual void setHighlighted(bool highlighted);
    // Never changed by touches: the owner's toggle.
    bool isSelected() const { return m_selected; }
    virtual void setSelected(bool selected);

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    std::optional<std::string> dumpImage() const override;
    std::optional<std::string> dumpText() const override;

private:
    struct Target {
        const void* target;
        Action action;
    };
    std::string m_title;
    Color m_titleColor{1, 1, 1, 1};
    Font m_font{"Helvetica-Bold", 15};
    std::shared_ptr<Image> m_image;
    std::shared_ptr<Image> m_backgroundImage;
    std::vector<Target> m_targets;
    bool m_tracking = false;
    bool m_highlighted = false;
    bool m_selected = false;
};

}  // namespace plat::ui
