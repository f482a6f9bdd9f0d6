#include "analytics/pagestats/tests/PagestatsTestSupport.h"

#include "analytics/trackwell/TrackwellEnvironment.h"
#include "platform/foundation/Clock.h"

namespace dktest {

void setWallTime(double secondsSince1970) {
    plat::foundation::Clock& clock = plat::foundation::Clock::process();
    clock.setVirtual(true);
    dk::trackwell::setStartWallTime(secondsSince1970 - clock.now());
}

std::shared_ptr<PSHitBuilder> fixedBuilder() {
    dk::trackwell::seedRandom(34);
    setWallTime(1700000000);
    auto builder = std::make_shared<PSHitBuilder>(PSHitBuilder::Device{320, 480, "fr", "ca"});
    builder->setAccountID("UA-1-2");
    return builder;
}

namespace {

void addVariables(PSEvent& event, std::initializer_list<PSCustomVariable> variables) {
    if (variables.size() == 0) return;
    event.customVariableBuffer.emplace();
    for (const PSCustomVariable& variable : variables) event.customVariableBuffer->addCustomVariable(variable);
}

}  // namespace

PSEvent pageView(const std::string& path, std::initializer_list<PSCustomVariable> variables) {
    PSEvent page(std::string(kPSPageviewEventCategory), path, std::nullopt, -1);
    addVariables(page, variables);
    return page;
}

PSEvent event(const std::string& category, const std::string& action, std::optional<std::string> label, int value,
              std::initializer_list<PSCustomVariable> variables) {
    PSEvent made(category, action, std::move(label), value);
    addVariables(made, variables);
    return made;
}

std::string param(const std::string& hit, const std::string& key) {
    const std::string tag = key + "=";
    for (std::size_t at = hit.find_first_of("?&"); at != std::string::npos; at = hit.find('&', at + 1)) {
        if (hit.compare(at + 1, tag.size(), tag) != 0) continue;
        std::size_t start = at + 1 + tag.size();
        return hit.substr(start, hit.find('&', start) - start);
    }
    return "";
}

}  // namespace dktest

#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"

namespace dktest {

bool runMainUntil(const std::function<bool()>& done) {
    const double deadline = plat::foundation::Clock::monotonicSeconds() + 30;
    while (!done()) {
        if (plat::foundation::Clock::monotonicSeconds() > deadline) return false;
        plat::foundation::RunLoop::main().runOnce(300.0);
    }
    return true;
}

std::string okAnswer(const std::string& extra) {
    return R"({"body": ")" + std::string(35, 'x') + "\"" + (extra.empty() ? "" : ", " + extra) + "}";
}

void setCollector(const std::string& base) {
    plat::net::setServerBaseOverride("pagestats.collector", base);
}

}  // namespace dktest
