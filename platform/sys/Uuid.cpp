#include "platform/sys/Uuid.h"

#include <uuid/uuid.h>

namespace plat::sys {

std::string newUUIDString() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

std::string uuidString(const unsigned char (&bytes)[16]) {
    char text[37];
    uuid_unparse_upper(bytes, text);
    return text;
}

}  // namespace plat::sys
