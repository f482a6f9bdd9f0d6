// The application delegate's orientation answers, all read from the Info.plist list
// "UISupportedInterfaceOrientations". The game view controller asks the application's delegate
// for them (not its own delegate), so the player's application delegates derive from this class.
#pragma once

#include <string_view>
#include <vector>

#include "platform/ui/Application.h"

class DKOrientationAnswers : public plat::ui::ApplicationDelegate {
public:
    // "UIInterfaceOrientationLandscapeLeft" 16, "...Portrait" 2, "...PortraitUpsideDown" 4, any
    // other text 8 (landscape right).
    static unsigned interfaceOrientationMaskForString(std::string_view name);
    // 1 << o for o below 32, else 0.
    static unsigned interfaceOrientationMaskForOrientation(int orientation);
    // The same names as orientations: 4, 1, 2, and 3 for any other text. The device's numbering
    // agrees for these four postures.
    static int interfaceOrientationForString(std::string_view name);
    static int deviceOrientationForString(std::string_view name) {
        return interfaceOrientationForString(name);
    }

    // The strings of the main bundle's list, in order (none when absent or not a list).
    static std::vector<std::string_view> supportedOrientationNames();

    // Some listed name maps to `orientation`; never for an empty or absent list.
    virtual bool isGameOrientationSupported(int orientation) const;
    // The first listed name as an orientation; portrait (1) for an empty or absent list.
    virtual int getAnySupportedOrientation() const;
    // The status bar's orientation from system 6.0 on, the device's below it.
    virtual int getInterfaceOrientation() const;
    // All four (30) when upside-down portrait is supported, else all but upside down (26).
    std::optional<unsigned> supportedInterfaceOrientationsForWindow(plat::ui::Application&,
                                                                    plat::ui::Window*) override;
};

// The application's delegate as orientation answers, or null (no application, or a delegate
// that gives none).
DKOrientationAnswers* DKApplicationOrientationAnswers();
