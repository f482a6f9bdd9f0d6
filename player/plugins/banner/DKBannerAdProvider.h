// Banner providers: what makes the banner view for a banner format, and how it reports back.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

// How a provider talks back; every operation optional (the defaults do nothing, or answer what
// no delegate would: orientation 6, unsupported).
class DKBannerAdProviderDelegate {
public:
    virtual ~DKBannerAdProviderDelegate() = default;
    virtual void adDidLoad() {}
    virtual void adLoadFailedWithError(const plat::foundation::Error&) {}
    virtual void adClicked() {}
    virtual void adClickFinished() {}
    virtual int getGameOrientation() { return 6; }
    virtual bool isSupportedOrientation(int /*orientation*/) { return false; }
};

// A banner format, read as an unsigned 32-bit number: a size class (0, 2, 4, 8 or 12) and a
// position (format minus size class: 0 top centre, 1 bottom centre, 2 left, 3 right edge).
struct DKBannerHelper {
    static std::uint32_t convertToSizeIndexFromBannerFormat(std::uint32_t format);
    // The size class's size; 320x50 for class 0 and anything unknown.
    static plat::ui::Size convertToSizeFromBannerFormat(std::uint32_t format);
    static std::uint32_t convertToPositionIndexForBannerFormat(std::uint32_t format);
    // Exactly the formats 4 to 7 (120x600).
    static bool isVerticalBannerAd(std::uint32_t format);
};

class DKBannerAdProvider {
public:
    DKBannerAdProvider() = default;
    virtual ~DKBannerAdProvider() = default;
    DKBannerAdProvider(const DKBannerAdProvider&) = delete;
    DKBannerAdProvider& operator=(const DKBannerAdProvider&) = delete;

    // Also the analytics attribute "p" of the plugin's events.
    virtual const char* bannerAdProviderIdentifier() const { return "bannerAd"; }
    // The banner view for `format`, or null.
    virtual std::shared_ptr<plat::ui::View> generateBannerAdWithFormat(std::uint32_t /*format*/) { return nullptr; }
    // Forgets the banner.
    virtual void freeBannerAd() {}
    // The interface's orientation when the delegate supports it, else the first the application
    // supports.
    int getCurrentDeviceOrientation() const;

    DKBannerAdProviderDelegate* delegate() const { return m_delegate; }
    void setDelegate(DKBannerAdProviderDelegate* delegate) { m_delegate = delegate; }

protected:
    // The frame of the key window's root controller's view; zero when there is none.
    static plat::ui::Rect referenceFrame();
    static bool isLandscape(int orientation) { return orientation == 3 || orientation == 4; }

private:
    DKBannerAdProviderDelegate* m_delegate = nullptr;
};
