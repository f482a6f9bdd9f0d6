#include "player/plugins/fullscreen/DKFullscreenAdProvider.h"

std::string DKFullscreenAdProvider::failureMessage(const plat::foundation::Error& error) {
    return "\u2716 Failed with error: Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \"" +
           error.message + "\"";
}
