// What the rich-media view's camera, mail and SMS commands compute, apart from the screens.
//
// The commands (OrbadRichMediaMediaCommands.cpp) answer the photo as JPEG at quality 0.1 in
// unbroken Base64 half a second after the pick. Each covering screen is framed by the page's hidden
// callbacks and, unless the ad is expanded, the engine's touch-through; a custom alert finishes
// only a touch-through it took, and one without titles gets "OK". A song filter that decodes to
// something other than an object answers "Error in query songs, invalid JSON: the song object is
// not a JSON object".
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image/ImageCodec.h"

namespace orbad {

// Larger requested photo sides are ignored: a page must not size an allocation.
inline constexpr int kOrbadMaxPhotoSide = 4096;

// `source` drawn at `width` x `height` and turned upright for `orientation` (0 up, 1 down, 2 left,
// 3 right; 4-7 the same mirrored): the result is width x height for up and down, height x width
// otherwise. A source without alpha gives an opaque picture. Empty for a size out of range.
plat::image::Bitmap orbadResizedImage(const plat::image::Bitmap& source, int orientation, int width, int height);

// A "mailto:" link: "to" from before the "?", then each parameter. "subject" and "body" in any
// letter case keep their text under the name as written; any other name collects every value's
// pieces split at ",", in order.
struct OrbadEmailLink {
    std::vector<std::string> to;
    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<std::string>> lists;
};
OrbadEmailLink orbadConvertEmailURI(std::string_view uri);

// An "sms:" link (with or without "//"): its recipients, and the "body" parameter when present.
struct OrbadSMSLink {
    std::vector<std::string> recipients;
    std::optional<std::string> body;
};
OrbadSMSLink orbadConvertSMSURI(std::string_view uri);

}  // namespace orbad
