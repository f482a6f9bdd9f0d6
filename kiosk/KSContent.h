// A content unit as the content API hands it back: the template's address, a frame per
// orientation, a transition and the template's context. Also the content view's geometry, kept
// here as plain functions of the screen so that it reads the same in tests and on screen.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kiosk/KSJsonValue.h"
#include "platform/sys/Geometry.h"

enum class KSTransition { None = 0, Modal = 1, Dialog = 2 };

class KSContent {
public:
    // Nil unless "frame", "url" and "transition" are there and "frame" is a string or an object.
    static std::shared_ptr<KSContent> contentWithDictionary(const KSJsonObject& dictionary);

    // Null (all zero) when the unit has no frame for the orientation; `applicationFrame` in
    // portrait points fills the screen for "KS_FULLSCREEN".
    plat::sys::Rect frameForOrientation(int orientation, const plat::sys::Rect& applicationFrame) const;
    // A string stands for a one-entry object mapping it to itself.
    void setFramesWithDictionary(const KSJsonValue& frame);

    double closeButtonDelay() const { return m_closeButtonDelay; }
    const std::string& URL() const { return m_url; }
    const std::optional<KSJsonValue>& context() const { return m_context; }
    const std::optional<std::string>& closeButtonURLPath() const { return m_closeButtonURLPath; }
    KSTransition transition() const { return m_transition; }

private:
    double m_closeButtonDelay = 10.0;
    std::string m_url;
    std::optional<KSJsonValue> m_context;
    std::optional<std::string> m_closeButtonURLPath;
    KSJsonObject m_frames;
    KSTransition m_transition = KSTransition::None;
};

namespace kiosk {

inline bool isNullRect(const plat::sys::Rect& r) {
    return r.x == 0 && r.y == 0 && r.width == 0 && r.height == 0;
}
// Portrait, upside down or either landscape: face up, face down and unknown say nothing about which
// way is up, so layouts keep what they had.
inline bool isUprightOrientation(int orientation) {
    return orientation >= 1 && orientation <= 4;
}
// A JSON value as a float the way a text's floatValue reads one (a leading number, else 0).
double floatValue(const KSJsonValue* value);

// The units' geometry is reckoned on the portrait screen, turned for the device, as the content
// API's frames are. This platform's windows turn with the interface, their coordinates being the
// interface's: `center` and `rotation` (whole quarter turns) so reckoned on the portrait `screen`, as
// a window turned for `interfaceOrientation` has them. Only what the device is turned from the
// interface is left to turn: nothing once the interface follows the device.
void placeInWindow(plat::sys::Point& center, double& rotation, const plat::sys::Rect& screen,
                   int interfaceOrientation);

struct ContentLayout {
    plat::sys::Rect frame;  // the view's own size: the screen as the device stands
    plat::sys::Point center;
    double rotation = 0;  // radians
};
// The view over the whole screen (`screen`, portrait bounds) facing the device orientation, in a
// window turned for `interfaceOrientation` (placeInWindow).
ContentLayout contentViewLayout(const plat::sys::Rect& screen, int orientation, int interfaceOrientation);
// The laid-out view's frame as its superview sees it once turned: the box around it.
plat::sys::Rect turnedFrame(const ContentLayout& layout);
// The translation that moves a view turned by `rotation` `distance` points down as its user sees
// it (down its own y axis).
plat::sys::Point slideOffset(double rotation, double distance);
// The status bar's share at the top: 20 points, or 0 when it is hidden.
double statusBarOffset(bool statusBarHidden);
// The web view inside a modal unit's view of size `view` (its own, unturned): all of it below the
// status bar.
plat::sys::Rect modalWebFrame(const plat::sys::Size& view, double statusBar);
// The web view of a dialog unit: its frame for the orientation, lowered by the status bar.
plat::sys::Rect dialogWebFrame(const plat::sys::Rect& unitFrame, double statusBar);

}  // namespace kiosk
