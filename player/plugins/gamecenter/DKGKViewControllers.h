// The network's leaderboard and achievements screens as the plugin shows them: on a phone
// (idiom 0) portrait and both landscapes but not upside down (mask 26); elsewhere what the base
// allows.
#pragma once

#include "platform/services/gamenet/GameNetwork.h"
#include "platform/sys/Device.h"

namespace dk::player::gamecenter {
inline constexpr unsigned kPhoneScreenOrientations = 26;
template <class Base>
class PhoneOrientations : public Base {
public:
    using Base::Base;
    unsigned supportedInterfaceOrientations() const override {
        return plat::sys::Device::current().userInterfaceIdiom() == 0 ? kPhoneScreenOrientations
                                                                        : Base::supportedInterfaceOrientations();
    }
};
}  // namespace dk::player::gamecenter

class DKGKLeaderboardViewController
    : public dk::player::gamecenter::PhoneOrientations<plat::gamenet::LeaderboardViewController> {
public:
    using PhoneOrientations::PhoneOrientations;
};

class DKGKAchievementViewController
    : public dk::player::gamecenter::PhoneOrientations<plat::gamenet::AchievementViewController> {
public:
    using PhoneOrientations::PhoneOrientations;
};
