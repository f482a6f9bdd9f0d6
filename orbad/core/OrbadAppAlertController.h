// Messages the ad network's dashboard pushes in the configuration answer ("app_alerts"), each
// shown as a system alert with a dismiss button and, when it carries a URL, an action button that
// opens it. Showings are counted per alert id in the user defaults, which cap and space them.
//
// Several due alerts are shown one after the other in array order, the next once the previous is
// answered; each dialog keeps its own id and URL, so every count lands on its own alert. The
// controller keeps itself alive while a dialog is up. Main thread only.
//
// The action button counts and opens the URL, the cancel button counts nothing, the system's
// cancel counts; the last-shown date is wallNow(). Title, message and button titles are trimmed of
// every white space and line break the platform's set holds (tab to carriage return, U+0085, the
// space separators, U+2028, U+2029). An alert whose title is then empty is not shown; a dismiss
// title then empty is "Close", with an action button or without, so every dialog can be closed
// without acting.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "orbad/core/OrbadJSON.h"
#include "platform/ui/AlertView.h"

namespace orbad {

inline constexpr const char* kOBAppAlertTimesShownFormat = "OBAppAlertTimesShown-%s";
inline constexpr const char* kOBAppAlertLastShownFormat = "OBAppAlertLastShown-%s";

class OrbadAppAlertController : public std::enable_shared_from_this<OrbadAppAlertController> {
public:
    // `appAlerts`: the "app_alerts" value, whatever it is.
    static std::shared_ptr<OrbadAppAlertController> create(Value appAlerts);
    ~OrbadAppAlertController();

    const Value& appAlerts() const { return m_appAlerts; }
    // Shows the first due alert; the others follow as each is answered. Nothing when `appAlerts`
    // is not a non-empty array.
    void show();
    // The alert on screen now: its id and action URL.
    const std::optional<std::string>& alertId() const { return m_alertId; }
    const std::optional<std::string>& actionURL() const { return m_actionURL; }

    // The counters in the standard user defaults; the writers synchronise at once.
    static int64_t timesShown(const std::string& alertId);
    static void incrementTimesShown(const std::string& alertId);
    // Seconds since 1970; 0 when never counted.
    static double lastDateShown(const std::string& alertId);
    static void updateLastDateShown(const std::string& alertId);

private:
    class Dialog;
    explicit OrbadAppAlertController(Value appAlerts) : m_appAlerts(std::move(appAlerts)) {}
    // Shows the next due alert from `m_next` on; false when none is left.
    bool showNext();
    bool isDue(const Value& alert, const std::string& id) const;
    // The dialog's answer: `counted` for the action and the system's cancel.
    void answered(bool counted, bool openAction);

    Value m_appAlerts;
    size_t m_next = 0;
    std::optional<std::string> m_alertId;
    std::optional<std::string> m_actionURL;
    std::shared_ptr<Dialog> m_dialog;
    std::shared_ptr<plat::ui::AlertView> m_alert;
};

}  // namespace orbad
