#include "apps/dk-orbad-cli/ClientCommands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "orbad/core/OBAdUnits.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadFeedback.h"
#include "orbad/core/OrbadInstrumentation.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

namespace dk::tools::orbadcli {

using dk::tools::Arg;
using dk::tools::escape;
using dk::tools::parseDouble;
using dk::tools::parseInt;
using plat::foundation::Value;

namespace {

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool parseSize(const std::string& text, orbad::OBAdSize& size) {
    const size_t x = text.find('x');
    double width, height;
    if (x == std::string::npos || !parseDouble(text.substr(0, x), width) ||
        !parseDouble(text.substr(x + 1), height))
        return false;
    size = {static_cast<float>(width), static_cast<float>(height)};
    return true;
}

std::string nameOf(const std::optional<Value>& candidate) {
    const Value* name = candidate ? candidate->find("name") : nullptr;
    return name && name->string() ? *name->string() : "nil";
}

std::string result(const std::optional<std::string>& text) {
    return "instr " + (text ? escape(*text) : std::string("NIL"));
}

// "YYYY-MM-DD" as local midnight.
std::optional<plat::foundation::Date> parseDay(const std::string& text) {
    std::tm parts{};
    int year, month, day;
    char end;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3) return std::nullopt;
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_isdst = -1;
    return plat::foundation::Date{static_cast<double>(std::mktime(&parts))};
}

}  // namespace

// The feedback's delegate: what it hears prints as it hears it.
struct FeedbackListener : orbad::OrbadFeedbackDelegate {
    explicit FeedbackListener(Say say) : say(std::move(say)) {}
    void orbadFeedbackSentComment(orbad::OrbadFeedback&) override {
        say("delegate orbadFeedbackSentComment");
    }
    void orbadFeedbackFailedToSendComment(orbad::OrbadFeedback&, const orbad::Error& error) override {
        say("delegate orbadFeedbackFailedToSendComment " + std::to_string(error.code) + " " +
            escape(error.message));
    }
    void orbadFeedbackSentRatings(orbad::OrbadFeedback&) override {
        say("delegate orbadFeedbackSentRatings");
    }
    void orbadFeedbackFailedToSendRatings(orbad::OrbadFeedback&, const orbad::Error& error) override {
        say("delegate orbadFeedbackFailedToSendRatings " + std::to_string(error.code) + " " +
            escape(error.message));
    }
    Say say;
};

ClientCommands::ClientCommands(Say say, std::optional<long long> seed)
    : m_say(std::move(say)), m_seed(seed), m_listener(std::make_shared<FeedbackListener>(m_say)) {
    orbad::OrbadFeedback::sharedInstance()->setDelegate(m_listener);
}

ClientCommands::~ClientCommands() {
    orbad::OrbadFeedback::shutdown();
    orbad::OrbadInstrumentation::shutdown();
}

bool ClientCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

const std::vector<dk::tools::AreaCommand<ClientCommands>>& ClientCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<ClientCommands>> table = {
        {"adunit", {"adunit WxH"}, &ClientCommands::adunit},
        {"candidates", {"candidates WxH"}, &ClientCommands::candidates},
        {"pick", {"pick WxH N"}, &ClientCommands::pick},
        {"alert", {"alert press N | alert cancel"}, &ClientCommands::alert},
        {"instr", {"instr start GROUP [TAG] | instr bench NAME PATH | instr end PATH", "instr info GROUP DESCRIPTION VALUE | instr finish GROUP"}, &ClientCommands::instr},
        {"demographics", {"demographics JSON [YYYY-MM-DD]"}, &ClientCommands::demographics},
        {"feedback", {"feedback comment TEXT | feedback ratings A B C D E"}, &ClientCommands::feedback},
    };
    return table;
}

void ClientCommands::noticeScreen() {
    plat::ui::Application* app = plat::ui::Application::shared();
    if (!app) return;
    // An answer opens its URL before the next alert comes up.
    for (; m_urlsSeen < app->openedURLs().size(); ++m_urlsSeen)
        m_say("open " + escape(app->openedURLs()[m_urlsSeen]));
    for (const auto& alert : app->alerts()) {
        // Held weakly: an alert gone may leave its address to the next one.
        if (std::any_of(m_alertsSeen.begin(), m_alertsSeen.end(),
                        [&](const auto& seen) { return seen.lock() == alert; }))
            continue;
        std::string line =
            "alert show " + escape(alert->title()) + "|" + escape(alert->message().value_or("")) + "|";
        for (size_t i = 0; i < alert->buttonTitles().size(); ++i)
            line += (i ? "," : "") + escape(alert->buttonTitles()[i]);
        m_say(line);
    }
    m_alertsSeen.clear();
    for (const auto& alert : app->alerts()) m_alertsSeen.push_back(alert);
}

orbad::OBConfig* ClientCommands::config() {
    orbad::OBConfig* config = orbad::OrbadController::hasBeenInstantiated()
                                  ? &orbad::OrbadController::sharedInstance().config()
                                  : nullptr;
    if (config && m_seed && m_seeded != config) {
        config->setRandomSource(orbad::obSeededRandom(static_cast<uint64_t>(*m_seed)));
        m_seeded = config;
    }
    return config;
}

bool ClientCommands::adunit(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    orbad::OBAdSize size;
    if (args.size() != 1 || !parseSize(args[0].text, size)) return refuse("usage: adunit WxH");
    orbad::OBConfig* units = config();
    if (!units) return refuse("no configuration: start the client first");
    const std::optional<std::string> method = units->currentSelectionMethod(size);
    m_say("adunit enabled=" + std::to_string(units->adUnitEnabled(size)) +
          " autoplay=" + std::to_string(units->autoPlayEnabled(size)) +
          " rmuser=" + std::to_string(units->richMediaRequiresUserInteraction(size)) +
          " refresh=" + number(units->refreshInteveralForAdUnit(size)) +
          " autoplayTimeout=" + number(units->autoplayTimeoutInteveralForAdUnit(size)) +
          " method=" + (method ? escape(*method) : "nil"));
    return true;
}

bool ClientCommands::candidates(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    orbad::OBAdSize size;
    if (args.size() != 1 || !parseSize(args[0].text, size)) return refuse("usage: candidates WxH");
    orbad::OBConfig* units = config();
    if (!units) return refuse("no configuration: start the client first");
    const std::optional<Value::Array> list = units->getOpenAllocationCandidates(size);
    std::string names;
    for (const Value& candidate : list.value_or(Value::Array{}))
        names += (names.empty() ? "" : ",") + escape(nameOf(candidate));
    m_say("candidates " + (list ? names : "nil"));
    return true;
}

bool ClientCommands::pick(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    orbad::OBAdSize size;
    long long count = 0;
    if (args.size() != 2 || !parseSize(args[0].text, size) || !parseInt(args[1].text, count) || count < 0)
        return refuse("usage: pick WxH N");
    orbad::OBConfig* units = config();
    if (!units) return refuse("no configuration: start the client first");
    const std::optional<Value::Array> list = units->getOpenAllocationCandidates(size);
    std::map<std::string, long long> picked;
    for (long long i = 0; i < count; ++i) ++picked[nameOf(units->getNextCandidate(size, list))];
    // In the list's order, then what no candidate is called ("nil").
    for (const Value& candidate : list.value_or(Value::Array{})) {
        auto it = picked.find(nameOf(candidate));
        m_say("pick " + escape(nameOf(candidate)) + " " +
              std::to_string(it == picked.end() ? 0 : it->second));
        if (it != picked.end()) picked.erase(it);
    }
    for (const auto& [name, times] : picked) m_say("pick " + escape(name) + " " + std::to_string(times));
    return true;
}

bool ClientCommands::alert(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    long long index = 0;
    const bool press = args.size() == 2 && args[0].text == "press" && parseInt(args[1].text, index);
    if (!press && !(args.size() == 1 && args[0].text == "cancel"))
        return refuse("usage: alert press N | alert cancel");
    plat::ui::Application* app = plat::ui::Application::shared();
    if (!app || app->alerts().empty()) {
        m_say("alert NIL");
        return true;
    }
    const std::shared_ptr<plat::ui::AlertView> oldest = app->alerts().front();
    if (press) {
        if (index < 0 || index >= static_cast<long long>(oldest->buttonTitles().size())) {
            m_say("alert NIL");
            return true;
        }
        m_say("alert press " + std::to_string(index) + "|" + escape(oldest->buttonTitles()[index]));
        oldest->pressButton(static_cast<int>(index));
    } else {
        m_say("alert cancel " + escape(oldest->title()));
        oldest->cancel();
    }
    return true;
}

bool ClientCommands::instr(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    constexpr const char* kUsage =
        "usage: instr start GROUP [TAG] | instr bench NAME PATH | instr end PATH | "
        "instr info GROUP DESCRIPTION VALUE | instr finish GROUP";
    if (args.empty()) return refuse(kUsage);
    auto instrumentation = orbad::OrbadInstrumentation::currentInstrumentation();
    const std::string& op = args[0].text;
    if (op == "start" && (args.size() == 2 || args.size() == 3)) {
        m_say(result(instrumentation->startGroup(
            args[1].text, args.size() == 3 ? std::optional(args[2].text) : std::nullopt)));
    } else if (op == "bench" && args.size() == 3) {
        m_say(result(instrumentation->benchmarkStart(args[1].text, args[2].text)));
    } else if (op == "end" && args.size() == 2) {
        m_say(result(instrumentation->benchmarkFinishPath(args[1].text)));
    } else if (op == "info" && args.size() == 4) {
        instrumentation->addInfo(args[3].object ? *args[3].object : Value(args[3].text), args[2].text,
                                 args[1].text);
        m_say("instr ok");
    } else if (op == "finish" && args.size() == 2) {
        instrumentation->finishGroup(args[1].text);
        m_say("instr ok");
    } else {
        return refuse(kUsage);
    }
    return true;
}

bool ClientCommands::demographics(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    constexpr const char* kUsage = "usage: demographics JSON [YYYY-MM-DD]";
    if (args.empty() || args.size() > 2 || !args[0].object || !args[0].object->dictionary())
        return refuse(kUsage);
    std::optional<plat::foundation::Date> birthday;
    if (args.size() == 2 && !(birthday = parseDay(args[1].text))) return refuse(kUsage);
    const Value& fields = *args[0].object;
    auto integer = [&](const char* key) {
        const Value* value = fields.find(key);
        return value ? value->intValue() : 0;
    };
    auto text = [&](const char* key) -> std::optional<std::string> {
        const Value* value = fields.find(key);
        return value && value->string() ? std::optional(*value->string()) : std::nullopt;
    };
    auto real = [&](const char* key) {
        const Value* value = fields.find(key);
        return value ? value->doubleValue() : 0.0;
    };
    orbad::OrbadDemographicsRecord record;
    record.dec = static_cast<int>(integer("dec"));
    record.den = static_cast<int>(integer("den"));
    record.drl = static_cast<int>(integer("drl"));
    record.dg = static_cast<int>(integer("dg"));
    record.ddg = static_cast<int>(integer("ddg"));
    record.dms = static_cast<int>(integer("dms"));
    record.dic = static_cast<unsigned>(integer("dic"));
    record.dac = static_cast<unsigned>(integer("dac"));
    record.ddc = static_cast<int>(integer("ddc"));
    record.dmc = static_cast<int>(integer("dmc"));
    record.dci = text("dci");
    record.dco = text("dco");
    record.dpo = text("dpo");
    record.drg = text("drg");
    record.gpsLatitude = real("gpsLatitude");
    record.gpsLongitude = real("gpsLongitude");
    orbad::OrbadDemographics::updateDemographics(record, birthday);
    m_say("ok");
    return true;
}

bool ClientCommands::feedback(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    constexpr const char* kUsage = "usage: feedback comment TEXT | feedback ratings A B C D E";
    try {
        if (args.size() == 2 && args[0].text == "comment") {
            orbad::OrbadFeedback::sendComment(args[1].text);
        } else if (args.size() == 6 && args[0].text == "ratings") {
            long long r[5];
            for (int i = 0; i < 5; ++i)
                if (!parseInt(args[static_cast<size_t>(i) + 1].text, r[i])) return refuse(kUsage);
            orbad::OrbadFeedback::sendRatings({static_cast<int>(r[0]), static_cast<int>(r[1]),
                                               static_cast<int>(r[2]), static_cast<int>(r[3]),
                                               static_cast<int>(r[4])});
        } else {
            return refuse(kUsage);
        }
    } catch (const orbad::OrbadException& e) {
        m_say("exception " + e.name() + " " + escape(e.reason()));
        return true;
    }
    m_say("ok");
    return true;
}

}  // namespace dk::tools::orbadcli
