// The "Achievement Unlocked" banners: a queue, one banner at a time sliding in at the top edge of
// the interface, resting 1.75 s and sliding out (0.4 s each way), on the run loop's clock. There
// is no platform banner on this machine: every banner is our own view. Traced under "gkbanner":
// "show TITLE|MESSAGE" as a banner starts to slide in, "hidden TITLE" once it has gone.
//
// Frames are computed in the fixed portrait coordinates as the device did, with the window's edge for
// the length (no status bar here), and placed in the interface's coordinates, which follow the
// orientation; the message line shrinks to fit (down to 10 points, then cut).
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/services/gamenet/GameNetwork.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace dk::player::gamecenter {

plat::foundation::TraceCategory& bannerTrace();

// The screen a banner is laid out for: the window's width and height in portrait (the fixed
// coordinates the frames are given in), the status bar's thickness (0 without one), the status
// bar's orientation and the banner's share of the edge it lies along.
struct BannerScreen {
    double width = 0, height = 0;
    double statusBar = 0;
    int orientation = 1;
    double ratio = 0.88;
};

// An orientation outside 1-4 counts as portrait (1).
int bannerOrientation(int orientation);
// (0, 0, L x ratio, 52), L the window's edge along the banner: the width in 1 and 2, the height
// in 3 and 4.
plat::ui::Rect bannerDefaultSize(const BannerScreen& screen);
// In the fixed portrait coordinates: just outside the orientation's top edge, and at rest, 10
// points inside the status bar.
plat::ui::Rect bannerStartFrame(const BannerScreen& screen);
plat::ui::Rect bannerEndFrame(const BannerScreen& screen);
// A frame of the fixed portrait coordinates in the interface's (window) coordinates, which here
// follow the orientation: the banner lies along the interface's top edge whatever the orientation.
plat::ui::Rect bannerInterfaceFrame(const plat::ui::Rect& fixed, const BannerScreen& screen);
// The title's and the message's frames in a banner of `bounds` (interface coordinates).
plat::ui::Rect bannerText1Frame(const plat::ui::Rect& bounds, bool logo);
plat::ui::Rect bannerText2Frame(const plat::ui::Rect& bounds, bool logo);

}  // namespace dk::player::gamecenter

class GKAchievementNotification;

class GKAchievementHandlerDelegate {
public:
    virtual ~GKAchievementHandlerDelegate() = default;
    virtual void didHideAchievementNotification(GKAchievementNotification& notification) = 0;
};

// Made with std::make_shared.
class GKAchievementNotification : public plat::ui::View {
public:
    // The banner's size for the current screen; the texts of the description, else "Achievement
    // Unlocked" and none.
    explicit GKAchievementNotification(const plat::gamenet::AchievementDescription& achievement);
    GKAchievementNotification(std::optional<std::string> title, std::optional<std::string> message);
    ~GKAchievementNotification() override;
    const char* className() const override { return "GKAchievementNotification"; }

    // The screen as the application shows it now (the device's idiom decides the ratio).
    static dk::player::gamecenter::BannerScreen currentScreen();

    const std::string& title() const { return m_textLabel->text(); }
    const std::string& message() const { return m_detailLabel->text(); }
    plat::ui::Label& textLabel() { return *m_textLabel; }
    plat::ui::Label& detailLabel() { return *m_detailLabel; }
    void setHandlerDelegate(GKAchievementHandlerDelegate* delegate) { m_handlerDelegate = delegate; }
    // A file path; none (or one that is missing) removes the logo.
    void setImage(const std::optional<std::string>& path);
    plat::ui::Rect startFrame() const;
    plat::ui::Rect endFrame() const;
    void animateIn();
    void animateOut();

    void layoutSubviews() override;

private:
    void setUp(std::optional<std::string> title, std::optional<std::string> message);

    dk::player::gamecenter::BannerScreen m_screen;
    std::shared_ptr<plat::ui::View> m_background;
    std::shared_ptr<plat::ui::ImageView> m_logo;
    std::shared_ptr<plat::ui::Label> m_textLabel;
    std::shared_ptr<plat::ui::Label> m_detailLabel;
    GKAchievementHandlerDelegate* m_handlerDelegate = nullptr;
};

class GKAchievementHandler : private GKAchievementHandlerDelegate {
public:
    // The shared handler, made on first use and never destroyed. Main thread.
    static GKAchievementHandler& defaultHandler();

    void notifyAchievement(const plat::gamenet::AchievementDescription& achievement);
    void notifyAchievementTitle(const std::string& title, const std::string& message);
    // The banners waiting, the first on display.
    const std::deque<std::shared_ptr<GKAchievementNotification>>& queue() const { return m_queue; }

private:
    GKAchievementHandler() = default;
    void enqueue(std::shared_ptr<GKAchievementNotification> notification);
    void displayNotification(GKAchievementNotification& notification);
    void didHideAchievementNotification(GKAchievementNotification& notification) override;

    std::deque<std::shared_ptr<GKAchievementNotification>> m_queue;
};
