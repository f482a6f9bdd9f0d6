#include "platform/gamenet/GameNetwork.h"

#include "platform/foundation/LocalServices.h"
#include "platform/sys/ClassRegistry.h"

namespace plat::gamenet {

void registerClasses() {
    foundation::registerLocalServiceClass("GKLocalPlayer", kServiceName);
}

bool isPresent() {
    registerClasses();
    return sys::hasClass("GKLocalPlayer");
}

}  // namespace plat::gamenet
