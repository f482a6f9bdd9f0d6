// The content view's bridge with its page, as plain text work: where a "ks:" navigation is
// dispatched, and the script that carries a reply back to the page.
#pragma once

#include <optional>
#include <string>

#include "kiosk/KSJsonValue.h"

namespace kiosk {

// The version a page reads from window.KioskDispatchProtocolVersion.
inline constexpr int kDispatchProtocolVersion = 5;

// Scheme, "://", host and path of `url`: the address a command is registered under. Nothing for an
// address without a host, which is no command.
std::optional<std::string> callAddress(const std::string& url);

// The script that hands a reply to the page's KioskAPICallback (or Kiosk.nativeAPI.callback) and
// evaluates to "OK" when the page took it. A missing id reaches the page as the text "null".
std::string callbackScript(const std::optional<std::string>& callbackId, const KSJsonValue* response,
                           const KSJsonValue* error);

}  // namespace kiosk
