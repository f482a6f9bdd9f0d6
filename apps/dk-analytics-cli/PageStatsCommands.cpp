#include "apps/dk-analytics-cli/PageStatsCommands.h"

#include <algorithm>
#include <cstdio>

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

void runPageStats(const std::vector<Arg>& all, const std::function<void(const std::string&)>& print) {
    if (all.empty() || all[0].object) {
        print("error usage: ps SUBCOMMAND");
        return;
    }
    const std::string sub = all[0].text;
    const std::vector<Arg> args(all.begin() + 1, all.end());
    const bool plain = std::none_of(args.begin(), args.end(), [](const Arg& a) { return a.object.has_value(); });
    auto count = [&](std::size_t low, std::size_t high) { return plain && args.size() >= low && args.size() <= high; };
    auto usage = [&](const char* form) { print(std::string("error usage: ps ") + form); };
    auto result = [&](bool ok, const PSError& error) { print(ok ? "ok" : errorLine(error)); };
    PSTracker& ps = tracker();
    PSError error;
    long long n = 0, m = 0;
    double a = 0, b = 0, c = 0;

    if (sub == "start") {
        if (!count(2, 2) || !parseInt(args[1].text, n)) return usage("start ACCOUNT PERIOD");
        ps.startTrackerWithAccountID(args[0].text, static_cast<int>(n), nullptr);
        return print("ok");
    }
    if (sub == "stop") {
        if (!count(0, 0)) return usage("stop");
        ps.stopTracker();
        return print("ok");
    }
    if (sub == "period") {
        if (!count(1, 1) || !parseInt(args[0].text, n)) return usage("period N");
        ps.setDispatchPeriod(static_cast<int>(n));
        return print("ok");
    }
    if (sub == "page") {
        if (!count(1, 1)) return usage("page PATH");
        return result(ps.trackPageview(args[0].text, &error), error);
    }
    if (sub == "page-many") {
        if (!count(2, 2) || !parseInt(args[0].text, n) || n < 1) return usage("page-many N PREFIX");
        // One line per page as the tracker takes it, so a watcher sees every acknowledged page.
        for (long long i = 1; i <= n; ++i) {
            const std::string page = "/" + args[1].text + "-" + std::to_string(i);
            print(ps.trackPageview(page, &error) ? "ok " + page : errorLine(error));
        }
        return;
    }
    if (sub == "event") {
        if (!count(4, 4) || !parseInt(args[3].text, n)) return usage("event CAT ACTION LABEL|- VALUE");
        return result(ps.trackEvent(args[0].text, args[1].text, orNone(args[2]), static_cast<int>(n), &error), error);
    }
    if (sub == "var") {
        m = kPSPageScope;
        if (!count(3, 4) || !parseInt(args[0].text, n) || n < 0 || (args.size() == 4 && !parseInt(args[3].text, m)) ||
            m < 0)
            return usage("var INDEX NAME VALUE [SCOPE]");
        return result(ps.setCustomVariableAtIndex(static_cast<unsigned>(n), args[1].text, args[2].text,
                                                  static_cast<unsigned>(m), &error),
                      error);
    }
    if (sub == "visitor-var") {
        if (!count(1, 1) || !parseInt(args[0].text, n) || n < 0) return usage("visitor-var INDEX");
        std::optional<std::string> value = ps.getVisitorCustomVarAtIndex(static_cast<unsigned>(n));
        return print(value ? dk::tools::escape(*value) : "none");
    }
    if (sub == "transaction") {
        if (!count(5, 5) || !parseDouble(args[1].text, a) || !parseDouble(args[3].text, b) ||
            !parseDouble(args[4].text, c))
            return usage("transaction ORDER TOTAL STORE|- TAX SHIPPING");
        return result(ps.addTransaction(args[0].text, a, orNone(args[2]), b, c, &error), error);
    }
    if (sub == "item") {
        if (!count(6, 6) || !parseDouble(args[2].text, a) || !parseDouble(args[3].text, b))
            return usage("item ORDER SKU PRICE COUNT NAME|- CATEGORY|-");
        return result(ps.addItem(args[0].text, args[1].text, a, b, orNone(args[4]), orNone(args[5]), &error), error);
    }
    if (sub == "referrer") {
        if (!count(1, 1)) return usage("referrer QUERY");
        return result(ps.setReferrer(args[0].text, &error), error);
    }
    if (sub == "sample") {
        if (!count(1, 1) || !parseInt(args[0].text, n) || n < 0) return usage("sample N");
        ps.setSampleRate(static_cast<unsigned>(n));
        return print("ok");
    }
    bool on = false;
    if (sub == "anonymize" || sub == "dryrun" || sub == "debug") {
        if (!count(1, 1) || !flag(args[0], on)) return usage((sub + " 0|1").c_str());
        if (sub == "anonymize") ps.setAnonymizeIp(on);
        if (sub == "dryrun") ps.setDryRun(on);
        if (sub == "debug") ps.setDebug(on);
        return print("ok");
    }
    if (!count(0, 0)) return usage(sub.c_str());
    if (sub == "track-transactions") return result(ps.trackTransactions(&error), error);
    if (sub == "clear-transactions") return result(ps.clearTransactions(&error), error);
    if (sub == "dispatch") return print(ps.dispatch() ? "yes" : "no");
    if (sub == "last-dispatch") return print(sLastDispatch.value_or("none"));
    if (sub == "ids") {
        return print(idOrDash(ps.visitorIDForAfma()) + " " + idOrDash(ps.sessionIDForAfma()) + " " +
                     idOrDash(ps.accountIDForAfma()) + " " + ps.globalParameters().canonicalJSON());
    }
    print("error unknown command: ps " + sub);
}

}  // namespace dk::tools::analyticscli
