#include "player/plugins/DKGameCenterSupport.h"

#include "platform/gamenet/GameNetwork.h"

bool DKGameCenterSupport::isGameCenterAvailable() {
    return plat::gamenet::isPresent();
}
