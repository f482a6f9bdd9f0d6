#include "orbad/core/OrbadAppAlertController.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "orbad/core/OBSession.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UTF8.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

using plat::foundation::UserDefaults;

// Controllers with a dialog up: the self-retain, reachable from here until the dialog answers.
std::vector<std::shared_ptr<OrbadAppAlertController>>& showing() {
    static std::vector<std::shared_ptr<OrbadAppAlertController>> controllers;
    return controllers;
}

std::string key(const char* format, const std::string& id) {
    std::string out(format);
    out.replace(out.find("%s"), 2, id);
    return out;
}

// White space and line breaks as the platform's set has them: the controls from tab to carriage
// return, the next-line control, the Unicode space separators and the line and paragraph separators.
bool isBlank(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::string trimmed(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    size_t first = 0, last = 0;  // the kept characters are [first, last)
    for (size_t i = 0; i < text.size();) {
        char32_t c;
        const size_t length = utf8::decode(bytes + i, text.size() - i, &c);
        if (length == 0) c = 0xFFFD;  // not UTF-8: never white space
        const size_t step = length ? length : 1;
        if (!isBlank(c)) {
            if (last == 0) first = i;
            last = i + step;
        }
        i += step;
    }
    return text.substr(first, last - first);
}

std::string bundleVersion() {
    const Value* version = plat::foundation::Bundle::mainInfoValue("CFBundleVersion");
    return version ? version->description() : "";
}

// An entry with "*" matches every version starting with the text before its first "*".
bool versionMatches(const Value& targets, const std::string& version) {
    const Value::Array* list = targets.array();
    if (!list || list->empty()) return true;
    return std::any_of(list->begin(), list->end(), [&](const Value& entry) {
        const std::string text = entry.description();
        const size_t star = text.find('*');
        return star == std::string::npos ? text == version : version.starts_with(text.substr(0, star));
    });
}

double numberAt(const Value& alert, const char* key) {
    const Value* value = alert.find(key);
    return value ? value->doubleValue() : 0;
}

}  // namespace

// The delegate of one dialog: which of its buttons is the action.
class OrbadAppAlertController::Dialog : public plat::ui::AlertViewDelegate {
public:
    Dialog(std::weak_ptr<OrbadAppAlertController> owner, int actionIndex)
        : m_owner(std::move(owner)), m_actionIndex(actionIndex) {}
    void alertViewClickedButton(plat::ui::AlertView&, int index, const std::string&) override {
        const bool action = index == m_actionIndex;
        if (auto owner = m_owner.lock()) owner->answered(action, action);
    }
    void alertViewCancel(plat::ui::AlertView&) override {
        if (auto owner = m_owner.lock()) owner->answered(true, false);
    }

private:
    std::weak_ptr<OrbadAppAlertController> m_owner;
    int m_actionIndex;  // -1 without an action button
};

std::shared_ptr<OrbadAppAlertController> OrbadAppAlertController::create(Value appAlerts) {
    return std::shared_ptr<OrbadAppAlertController>(new OrbadAppAlertController(std::move(appAlerts)));
}

OrbadAppAlertController::~OrbadAppAlertController() = default;

void OrbadAppAlertController::show() {
    const Value::Array* alerts = m_appAlerts.array();
    if (!alerts || alerts->empty() || m_alert) return;
    m_next = 0;
    if (showNext()) showing().push_back(shared_from_this());
}

bool OrbadAppAlertController::isDue(const Value& alert, const std::string& id) const {
    if (trimmed(stringForKeyPath(alert, "title").value_or("")).empty()) return false;
    const int64_t maxDisplays = integerForKeyPath(alert, "max_displays");
    if (maxDisplays != 0 && timesShown(id) >= maxDisplays) return false;
    const double interval = numberAt(alert, "display_interval");
    if (interval != 0 && wallNow() - lastDateShown(id) < interval) return false;
    const Value* targets = alert.find("target_versions");
    return !targets || versionMatches(*targets, bundleVersion());
}

bool OrbadAppAlertController::showNext() {
    const Value::Array& alerts = *m_appAlerts.array();
    while (m_next < alerts.size()) {
        const Value& alert = alerts[m_next++];
        if (!alert.dictionary()) continue;
        const std::optional<std::string> id = stringForKeyPath(alert, "id");
        if (!id || !isDue(alert, *id)) continue;

        m_actionURL = urlForKeyPath(alert, "action_url");
        m_alertId = id;
        std::string dismiss = trimmed(stringForKeyPath(alert, "dismiss_button").value_or(""));
        std::string action = trimmed(stringForKeyPath(alert, "action_button").value_or(""));
        // Every dialog keeps a way out that opens nothing, an action or not.
        if (dismiss.empty()) dismiss = "Close";
        if (m_actionURL && action.empty()) action = "Open";
        if (!m_actionURL) action.clear();

        std::vector<std::string> buttons{dismiss};
        const int actionIndex = action.empty() ? -1 : static_cast<int>(buttons.size());
        if (!action.empty()) buttons.push_back(action);
        std::optional<std::string> message = stringForKeyPath(alert, "message");
        if (message) message = trimmed(*message);

        m_dialog = std::make_shared<Dialog>(weak_from_this(), actionIndex);
        m_alert = std::make_shared<plat::ui::AlertView>(trimmed(*stringForKeyPath(alert, "title")),
                                                        std::move(message), std::move(buttons), m_dialog);
        m_alert->show();
        return true;
    }
    return false;
}

void OrbadAppAlertController::answered(bool counted, bool openAction) {
    // Keep this alive through the call, whatever the registry does.
    auto self = shared_from_this();
    if (counted && m_alertId) {
        incrementTimesShown(*m_alertId);
        updateLastDateShown(*m_alertId);
    }
    if (openAction && m_actionURL) {
        if (plat::ui::Application* app = plat::ui::Application::shared())
            app->openURL(*m_actionURL);
        else
            plat::foundation::log("orbad: no application to open %s", m_actionURL->c_str());
    }
    m_alert.reset();
    m_dialog.reset();
    m_alertId.reset();
    m_actionURL.reset();
    if (showNext()) return;
    auto& list = showing();
    list.erase(std::remove(list.begin(), list.end(), self), list.end());
}

int64_t OrbadAppAlertController::timesShown(const std::string& alertId) {
    UserDefaults* defaults = UserDefaults::standard();
    return defaults ? defaults->integerForKey(key(kOBAppAlertTimesShownFormat, alertId)) : 0;
}

void OrbadAppAlertController::incrementTimesShown(const std::string& alertId) {
    if (UserDefaults* defaults = UserDefaults::standard()) {
        defaults->setInteger(timesShown(alertId) + 1, key(kOBAppAlertTimesShownFormat, alertId));
        defaults->synchronize();
    }
}

double OrbadAppAlertController::lastDateShown(const std::string& alertId) {
    UserDefaults* defaults = UserDefaults::standard();
    return defaults ? defaults->doubleForKey(key(kOBAppAlertLastShownFormat, alertId)) : 0;
}

void OrbadAppAlertController::updateLastDateShown(const std::string& alertId) {
    if (UserDefaults* defaults = UserDefaults::standard()) {
        defaults->setDouble(wallNow(), key(kOBAppAlertLastShownFormat, alertId));
        defaults->synchronize();
    }
}

}  // namespace orbad
