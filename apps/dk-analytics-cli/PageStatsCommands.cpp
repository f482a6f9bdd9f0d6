#include "apps/dk-analytics-cli/PageStatsCommands.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "analytics/pagestats/PSTracker.h"

namespace dk::tools::analyticscli {

namespace {

using dk::tools::Arg;
using dk::tools::parseDouble;
using dk::tools::parseInt;

std::optional<std::string> sLastDispatch;  // "dispatched N failed M" of the last completed one

std::string errorLine(const PSError& error) {
    char text[32];
    std::snprintf(text, sizeof text, "error 0x%08X ", static_cast<unsigned>(error.code));
    return text + error.domain;
}

std::optional<std::string> orNone(const Arg& arg) {
    if (!arg.quoted && arg.text == "-") return std::nullopt;
    return arg.text;
}

bool flag(const Arg& arg, bool& out) {
    if (arg.text != "0" && arg.text != "1") return false;
    out = arg.text == "1";
    return true;
}

std::string idOrDash(const std::optional<std::string>& id) {
    return id ? *id : "-";
}

PSTracker& tracker() {
    PSTracker& shared = PSTracker::sharedTracker();
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        shared.setDispatchHook([](unsigned dispatched, unsigned failed) {
            sLastDispatch = "dispatched " + std::to_string(dispatched) + " failed " + std::to_string(failed);
        });
    }
    return shared;
}

}  // namespace

bool pageStatsBusy() {
    return tracker().isDispatching();
}

namespace {

// One `ps` line as its sub-command's step gets it.
struct PsCall {
    const std::vector<Arg>& args;  // after the sub-command
    const std::function<void(const std::string&)>& print;
    PSTracker& ps;
    bool plain;  // no argument is a JSON object

    bool count(std::size_t low, std::size_t high) const { return plain && args.size() >= low && args.size() <= high; }
    void usage(const std::string& form) const { print("error usage: ps " + form); }
    void result(bool ok, const PSError& error) const { print(ok ? "ok" : errorLine(error)); }
};

void start(const PsCall& c) {
    long long period;
    if (!c.count(2, 2) || !parseInt(c.args[1].text, period)) return c.usage("start ACCOUNT PERIOD");
    c.ps.startTrackerWithAccountID(c.args[0].text, static_cast<int>(period), nullptr);
    c.print("ok");
}

void stop(const PsCall& c) {
    if (!c.count(0, 0)) return c.usage("stop");
    c.ps.stopTracker();
    c.print("ok");
}

void period(const PsCall& c) {
    long long n;
    if (!c.count(1, 1) || !parseInt(c.args[0].text, n)) return c.usage("period N");
    c.ps.setDispatchPeriod(static_cast<int>(n));
    c.print("ok");
}

void page(const PsCall& c) {
    PSError error;
    if (!c.count(1, 1)) return c.usage("page PATH");
    c.result(c.ps.trackPageview(c.args[0].text, &error), error);
}

// One line per page as the tracker takes it, so a watcher sees every acknowledged page.
void pageMany(const PsCall& c) {
    long long n;
    if (!c.count(2, 2) || !parseInt(c.args[0].text, n) || n < 1) return c.usage("page-many N PREFIX");
    PSError error;
    for (long long i = 1; i <= n; ++i) {
        const std::string page = "/" + c.args[1].text + "-" + std::to_string(i);
        c.print(c.ps.trackPageview(page, &error) ? "ok " + page : errorLine(error));
    }
}

void event(const PsCall& c) {
    long long value;
    if (!c.count(4, 4) || !parseInt(c.args[3].text, value)) return c.usage("event CAT ACTION LABEL|- VALUE");
    PSError error;
    c.result(c.ps.trackEvent(c.args[0].text, c.args[1].text, orNone(c.args[2]), static_cast<int>(value), &error), error);
}

void var(const PsCall& c) {
    long long index = 0, scope = kPSPageScope;
    if (!c.count(3, 4) || !parseInt(c.args[0].text, index) || index < 0 ||
        (c.args.size() == 4 && !parseInt(c.args[3].text, scope)) || scope < 0)
        return c.usage("var INDEX NAME VALUE [SCOPE]");
    PSError error;
    c.result(c.ps.setCustomVariableAtIndex(static_cast<unsigned>(index), c.args[1].text, c.args[2].text,
                                           static_cast<unsigned>(scope), &error),
             error);
}

void visitorVar(const PsCall& c) {
    long long index;
    if (!c.count(1, 1) || !parseInt(c.args[0].text, index) || index < 0) return c.usage("visitor-var INDEX");
    std::optional<std::string> value = c.ps.getVisitorCustomVarAtIndex(static_cast<unsigned>(index));
    c.print(value ? dk::tools::escape(*value) : "none");
}

void transaction(const PsCall& c) {
    double total, tax, shipping;
    if (!c.count(5, 5) || !parseDouble(c.args[1].text, total) || !parseDouble(c.args[3].text, tax) ||
        !parseDouble(c.args[4].text, shipping))
        return c.usage("transaction ORDER TOTAL STORE|- TAX SHIPPING");
    PSError error;
    c.result(c.ps.addTransaction(c.args[0].text, total, orNone(c.args[2]), tax, shipping, &error), error);
}

void item(const PsCall& c) {
    double price, quantity;
    if (!c.count(6, 6) || !parseDouble(c.args[2].text, price) || !parseDouble(c.args[3].text, quantity))
        return c.usage("item ORDER SKU PRICE COUNT NAME|- CATEGORY|-");
    PSError error;
    c.result(c.ps.addItem(c.args[0].text, c.args[1].text, price, quantity, orNone(c.args[4]), orNone(c.args[5]), &error),
             error);
}

void referrer(const PsCall& c) {
    if (!c.count(1, 1)) return c.usage("referrer QUERY");
    PSError error;
    c.result(c.ps.setReferrer(c.args[0].text, &error), error);
}

void sample(const PsCall& c) {
    long long rate;
    if (!c.count(1, 1) || !parseInt(c.args[0].text, rate) || rate < 0) return c.usage("sample N");
    c.ps.setSampleRate(static_cast<unsigned>(rate));
    c.print("ok");
}

// anonymize, dryrun and debug: a 0|1 switch each.
template <void (PSTracker::*set)(bool)>
void flagStep(const PsCall& c, const char* form) {
    bool on = false;
    if (!c.count(1, 1) || !flag(c.args[0], on)) return c.usage(form);
    (c.ps.*set)(on);
    c.print("ok");
}

// The steps that take no argument.
template <void (*answer)(const PsCall&)>
void bare(const PsCall& c, const char* sub) {
    if (!c.count(0, 0)) return c.usage(sub);
    answer(c);
}

void trackTransactions(const PsCall& c) {
    PSError error;
    c.result(c.ps.trackTransactions(&error), error);
}

void clearTransactions(const PsCall& c) {
    PSError error;
    c.result(c.ps.clearTransactions(&error), error);
}

void dispatch(const PsCall& c) {
    c.print(c.ps.dispatch() ? "yes" : "no");
}

void lastDispatch(const PsCall& c) {
    c.print(sLastDispatch.value_or("none"));
}

void ids(const PsCall& c) {
    c.print(idOrDash(c.ps.visitorIDForAfma()) + " " + idOrDash(c.ps.sessionIDForAfma()) + " " +
            idOrDash(c.ps.accountIDForAfma()) + " " + c.ps.globalParameters().canonicalJSON());
}

using Step = std::function<void(const PsCall&)>;

const std::map<std::string, Step, std::less<>>& steps() {
    static const std::map<std::string, Step, std::less<>> table = {
        {"start", start},
        {"stop", stop},
        {"period", period},
        {"page", page},
        {"page-many", pageMany},
        {"event", event},
        {"var", var},
        {"visitor-var", visitorVar},
        {"transaction", transaction},
        {"item", item},
        {"referrer", referrer},
        {"sample", sample},
        {"anonymize", [](const PsCall& c) { flagStep<&PSTracker::setAnonymizeIp>(c, "anonymize 0|1"); }},
        {"dryrun", [](const PsCall& c) { flagStep<&PSTracker::setDryRun>(c, "dryrun 0|1"); }},
        {"debug", [](const PsCall& c) { flagStep<&PSTracker::setDebug>(c, "debug 0|1"); }},
        {"track-transactions", [](const PsCall& c) { bare<trackTransactions>(c, "track-transactions"); }},
        {"clear-transactions", [](const PsCall& c) { bare<clearTransactions>(c, "clear-transactions"); }},
        {"dispatch", [](const PsCall& c) { bare<dispatch>(c, "dispatch"); }},
        {"last-dispatch", [](const PsCall& c) { bare<lastDispatch>(c, "last-dispatch"); }},
        {"ids", [](const PsCall& c) { bare<ids>(c, "ids"); }},
    };
    return table;
}

}  // namespace

void runPageStats(const std::vector<Arg>& all, const std::function<void(const std::string&)>& print) {
    if (all.empty() || all[0].object) return print("error usage: ps SUBCOMMAND");
    const std::string& sub = all[0].text;
    const std::vector<Arg> args(all.begin() + 1, all.end());
    const PsCall call{args, print, tracker(),
                      std::none_of(args.begin(), args.end(), [](const Arg& a) { return a.object.has_value(); })};
    const auto step = steps().find(sub);
    if (step != steps().end()) return step->second(call);
    // An unknown sub-command with arguments is refused as one that takes none.
    if (!call.count(0, 0)) return call.usage(sub);
    print("error unknown command: ps " + sub);
}

}  // namespace dk::tools::analyticscli
