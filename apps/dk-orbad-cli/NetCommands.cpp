#include "apps/dk-orbad-cli/NetCommands.h"

#include "apps/dk-orbad-cli/DataCommands.h"
#include "orbad/core/OrbadAdEvents.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "orbad/core/OrbadJSON.h"
#include "orbad/core/OrbadReachability.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"

namespace dk::tools::orbadcli {

using orbad::OBCoreHTTPRequest;
using plat::foundation::RunLoop;
using plat::foundation::Value;

// The requests' delegate: outcomes are said from the main loop, as it handles them.
class NetCommands::Delegate : public orbad::OBHTTPRequestDelegate {
public:
    explicit Delegate(Say say) : m_say(std::move(say)) {}
    void requestDidFinish(OBCoreHTTPRequest& request) override {
        tell("delegate requestDidFinish " + std::to_string(request.responseStatusCode()) + " " +
             escape(request.responseString()));
    }
    void requestDidFail(OBCoreHTTPRequest&, const orbad::Error& error) override {
        tell("delegate requestDidFail " + std::to_string(error.code));
    }

private:
    void tell(std::string line) {
        RunLoop::main().perform([say = m_say, line = std::move(line)] { say(line); });
    }
    Say m_say;
};

NetCommands::NetCommands(Say say) : Voice(say), m_delegate(std::make_shared<Delegate>(say)) {}

NetCommands::~NetCommands() = default;

bool requestsInFlight() {
    return OBCoreHTTPRequest::inFlightCount() > 0;
}

const std::vector<AreaCommand<NetCommands>>& NetCommands::commands() {
    static const std::vector<AreaCommand<NetCommands>> table = {
        {"net", {"net wifi|wwan|none"}, &NetCommands::net},
        {"reach", {"reach [HOST]"}, &NetCommands::reach},
        {"get", {"get URL [timeout=S] [NAME:VALUE]..."}, &NetCommands::get},
        {"form", {"form URL [core] NAME=VALUE..."}, &NetCommands::form},
        {"cancel", {"cancel"}, &NetCommands::cancel},
        {"event", {"event FILE NAME"}, &NetCommands::event},
    };
    return table;
}

bool NetCommands::net(Call& call) {
    const std::vector<Arg>& args = call.args;
    std::optional<plat::net::NetOverride> value;
    if (args.size() != 1 || !(value = plat::net::parseNetOverride(args[0].text)))
        return refuse("usage: net wifi|wwan|none");
    plat::net::setNetOverride(value);
    say("ok");
    return true;
}

bool NetCommands::cancel(Call& call) {
    if (!call.args.empty()) return refuse("usage: cancel");
    OBCoreHTTPRequest::cancelRequestsForDelegate(m_delegate.get());
    say("ok");
    return true;
}

bool NetCommands::reach(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() > 1) return refuse("usage: reach [HOST]");
    auto reachability = args.empty() ? orbad::OrbadReachability::reachabilityForInternetConnection()
                                     : orbad::OrbadReachability::reachabilityWithHostName(args[0].text);
    if (!reachability) {
        say("reach NIL");
        return true;
    }
    say("reach " + std::to_string(reachability->currentReachabilityStatus()) +
        (reachability->connectionRequired() ? " required" : " notrequired"));
    return true;
}

bool NetCommands::get(Call& call) {

    const std::vector<Arg>& args = call.args;
    constexpr const char* kUsage = "usage: get URL [timeout=S] [NAME:VALUE]...";
    if (args.empty()) return refuse(kUsage);
    auto request = orbad::OBHTTPRequest::create(args[0].text, m_delegate);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& text = args[i].text;
        double timeout;
        if (text.starts_with("timeout=")) {
            if (!parseDouble(text.substr(8), timeout)) return refuse(kUsage);
            request->setTimeoutInterval(timeout);
            continue;
        }
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos || colon == 0) return refuse(kUsage);
        request->addRequestHeader(text.substr(0, colon), text.substr(colon + 1));
    }
    say("http GET " + escape(args[0].text));
    request->startAsynchronous();
    return true;
}

bool NetCommands::form(Call& call) {

    const std::vector<Arg>& args = call.args;
    constexpr const char* kUsage = "usage: form URL [core] NAME=VALUE...";
    if (args.empty()) return refuse(kUsage);
    const bool core = args.size() > 1 && !args[1].quoted && args[1].text == "core";
    std::shared_ptr<orbad::OBCoreHTTPFormRequest> request =
        core ? orbad::OBCoreHTTPFormRequest::create(args[0].text, m_delegate)
             : orbad::OBHTTPFormRequest::create(args[0].text, m_delegate);
    for (std::size_t i = core ? 2 : 1; i < args.size(); ++i) {
        const std::string& text = args[i].text;
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos || eq == 0) return refuse(kUsage);
        request->setPostValue(Value(text.substr(eq + 1)), text.substr(0, eq));
    }
    say("http POST " + escape(args[0].text));
    request->startAsynchronous();
    return true;
}

bool NetCommands::event(Call& call) {

    const std::vector<Arg>& args = call.args;
    if (args.size() != 2) return refuse("usage: event FILE NAME");
    orbad::Data data;
    if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
    std::optional<Value> table = orbad::OrbadJSON::decodeData(data);
    if (!table || !table->dictionary()) return refuse("not a JSON object: " + args[0].text);
    orbad::OrbadAdEvents events(*table);
    const std::string name = orbad::OrbadAdEvents::eventName(args[1].text);
    auto urls = events.events().find(name);
    say("event " + escape(name) + " " +
        std::to_string(urls == events.events().end() ? 0 : urls->second.size()));
    events.triggerEvent(args[1].text);
    return true;
}

}  // namespace dk::tools::orbadcli
