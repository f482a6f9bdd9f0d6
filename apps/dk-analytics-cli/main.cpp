// dk-analytics-cli: the analytics clients driven headless, one command a line, for tests and
// outside checks.
//
//   dk-analytics-cli --home DIR [--bundle DIR] [--clock virtual|real] [--start-time EPOCH] [--seed N]
//                    [--device-facts FILE] [--endpoint NAME=URL]... [--log] [--commands FILE]
//   dk-analytics-cli --help         (the usage with every command)
//
// Commands come from FILE, else standard input; each runs to its end and prints one result line
// (flushed) before the next line is read. Exit status 0; 1 when the container cannot be made or
// the command file read; 2 for a bad command line, or when a command line was refused ("error ...").
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/pagestats/PSPersistentHitStore.h"
#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/UploaderThread.h"
#include "analytics/wrappers/DKPageStatsAnalytics.h"
#include "apps/cli-support/CommandLine.h"
#include "apps/cli-support/CommandTable.h"
#include "apps/dk-analytics-cli/MetricsCommands.h"
#include "apps/dk-analytics-cli/PageStatsCommands.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/JSONText.h"
#include "platform/foundation/Value.h"
#include "platform/net/Servers.h"

namespace {

using plat::foundation::Value;

constexpr const char* kDefaultIdentifier = "com.drovik.analytics-cli";

constexpr const char* kSynopsis =
    "usage: dk-analytics-cli --home DIR [--bundle DIR] [--clock virtual|real] [--start-time EPOCH]\n"
    "         [--seed N] [--device-facts FILE] [--endpoint NAME=URL]... [--log] [--commands FILE]\n";

using dk::tools::Arg;
using dk::tools::Line;
using dk::tools::parseDouble;
using dk::tools::parseInt;

class Cli {
public:
    int status = 0;

    void print(const std::string& result) {
        if (result.starts_with("error ")) status = 2;
        std::fprintf(stdout, "%s\n", result.c_str());
        std::fflush(stdout);
    }

    dk::tools::CommandTable table{[this](const std::string& line) { print(line); }};

    Cli() {
        using dk::tools::Call;
        dk::tools::addSharedCommands(
            table, {busy, "no upload or dispatch is in flight, retry delay included", "the main loop's clock",
                    [] {
                        char out[64];
                        std::snprintf(out, sizeof out, "%.3f", dk::trackwell::wallTime());
                        return std::string(out);
                    },
                    "the clients' wall time", {}});
        table.add({"store",
                   {"store add|add-close|add-flow TEXT | store header N TEXT | store stage N",
                    "store remove-last|next-upload|count|unstaged|text|delete-uploaded|schema-version",
                    "store dim SLOT [VALUE|null]"},
                   [this](Call& call) { return answer(store(call.rest)); },
                   true});
        table.add({"uploader", {"uploader start|state"}, [this](Call& call) { return answer(uploader(call.rest)); }, true});
        table.add({"metrics",
                   {"metrics key|start KEY | metrics open|resume|close|upload|state | metrics screen NAME",
                    "metrics tag NAME [ATTRS|null] [REPORT_ATTRS] | metrics tag-many N PREFIX",
                    "metrics optin 0|1 | metrics dim SLOT VALUE|null"},
                   [this](Call& call) { return metrics(call.rest); },
                   true});
        table.add({"hits",
                   {"hits account ID | hits var SLOT NAME VALUE SCOPE | hits page PATH | hits page-many N PREFIX",
                    "hits event CAT ACTION LABEL|- VALUE | hits transaction ORDER TOTAL STORE|- TAX SHIPPING",
                    "hits item ORDER SKU PRICE COUNT NAME|- CATEGORY|- | hits referrer QUERY | hits new-visit",
                    "hits count | hits delete ID | hits sample N | hits anonymize 0|1 | hits ids"},
                   [this](Call& call) { return answer(hits(call.rest)); },
                   true});
        table.add({"ps",
                   {"ps start ACCOUNT PERIOD | ps stop | ps period N | ps page PATH | ps page-many N PREFIX",
                    "ps event CAT ACTION LABEL|- VALUE | ps var INDEX NAME VALUE [SCOPE] | ps visitor-var INDEX",
                    "ps transaction ORDER TOTAL STORE|- TAX SHIPPING | ps item ORDER SKU PRICE COUNT NAME|- CATEGORY|-",
                    "ps track-transactions | ps clear-transactions | ps referrer QUERY | ps sample N",
                    "ps anonymize|dryrun|debug 0|1 | ps dispatch | ps ids | ps last-dispatch"},
                   [this](Call& call) {
                       dk::tools::analyticscli::runPageStats(call.args, [this](const std::string& line) { print(line); });
                       return true;
                   }});
        table.add({"analytics",
                   {"analytics info | analytics page EVENT | analytics event CAT ACTION LABEL|- VALUE",
                    "analytics purchase A B C | analytics stop"},
                   [this](Call& call) { return answer(analytics(call.args)); }});
    }

    // The usage: the command line and every command of the table.
    dk::tools::Usage usage() {
        m_commandsHelp = "\n"
                         "Commands, one a line from FILE or standard input (# comments), each answered by a line:\n" +
                         table.help() +
                         "Exit status 0; 1 when the container or the command file cannot be had; 2 for a bad command\n"
                         "line or a refused command (\"error ...\").\n";
        return {"dk-analytics-cli", kSynopsis, m_commandsHelp.c_str()};
    }

private:
    std::string m_commandsHelp;

    // One result line; false when it refuses.
    bool answer(const std::string& result) {
        print(result);
        return !result.starts_with("error ");
    }

    static const char* okOrFail(bool ok) { return ok ? "ok" : "fail"; }

    static bool takeWord(Line& line, std::string& word) { return line.takeWord(word); }
    static std::string restOf(Line& line) { return line.restOf(); }

    std::string store(Line& line) {
        TrackwellDatabase& db = TrackwellDatabase::sharedTrackwellDatabase();
        std::string sub;
        if (!takeWord(line, sub)) return "error usage: store SUBCOMMAND";
        if (sub == "add") return okOrFail(db.addEventWithBlobString(restOf(line)));
        if (sub == "add-close") return okOrFail(db.addCloseEventWithBlobString(restOf(line)));
        if (sub == "add-flow") return okOrFail(db.addFlowEventWithBlobString(restOf(line)));
        if (sub == "header") {
            std::string word;
            long long n;
            if (!takeWord(line, word) || !parseInt(word, n)) return "error usage: store header N TEXT";
            return okOrFail(db.addHeaderWithSequenceNumber(static_cast<int>(n), restOf(line)));
        }
        std::string error;
        std::vector<Arg> args;
        while (std::optional<Arg> arg = line.next(error)) args.push_back(std::move(*arg));
        if (!error.empty()) return "error " + error;
        long long n;
        if (sub == "stage") {
            if (args.size() != 1 || !parseInt(args[0].text, n)) return "error usage: store stage N";
            return okOrFail(db.stageEventsForUpload(static_cast<int>(n)));
        }
        if (sub == "dim") {
            if (args.empty() || args.size() > 2 || !parseInt(args[0].text, n)) return "error usage: store dim SLOT [VALUE|null]";
            int slot = static_cast<int>(n);
            if (args.size() == 1) {
                std::optional<std::string> value = db.customDimension(slot);
                return value ? Value(*value).canonicalJSON() : "null";
            }
            if (args[1].object) return "error usage: store dim SLOT [VALUE|null]";
            if (!args[1].quoted && args[1].text == "null") return okOrFail(db.setCustomDimension(slot, std::nullopt));
            return okOrFail(db.setCustomDimension(slot, args[1].text));
        }
        if (!args.empty()) return "error usage: store " + sub;
        if (sub == "remove-last") return okOrFail(db.removeLastCloseAndFlowEvents());
        if (sub == "next-upload") {
            int next = 0;
            return db.getNextUploadNumber(next) ? std::to_string(next) : "fail";
        }
        if (sub == "count") return std::to_string(db.eventCount());
        if (sub == "unstaged") return std::to_string(db.unstagedEventCount());
        if (sub == "text") return db.uploadBlobString();
        if (sub == "delete-uploaded") return okOrFail(db.deleteUploadData());
        if (sub == "schema-version") return std::to_string(db.schemaVersion());
        return "error unknown command: store " + sub;
    }

    // Lines are printed (and flushed) as the session answers them: tag-many acknowledges each tag.
    bool metrics(Line& line) {
        std::string error;
        std::vector<dk::tools::analyticscli::MetricsArg> args;
        while (std::optional<Arg> arg = line.next(error))
            args.push_back({arg->object ? arg->raw : arg->text, arg->quoted, arg->object.has_value()});
        if (!error.empty()) return answer("error " + error);
        dk::tools::analyticscli::runMetrics(args, [this](const std::string& line) { print(line); });
        return true;
    }

    std::string uploader(Line& line) {
        std::string sub;
        if (!takeWord(line, sub) || !restOf(line).empty()) return "error usage: uploader start|state";
        UploaderThread& uploader = UploaderThread::sharedUploaderThread();
        if (sub == "start") {
            uploader.uploaderThreadwithApplicationKey("");
            return "ok";
        }
        if (sub == "state") return uploader.isUploading() ? "uploading" : "idle";
        return "error unknown command: uploader " + sub;
    }

    // ---- the page-view hit store, as the tracker drives it ----

    std::unique_ptr<PSPersistentHitStore> m_hitStore;
    std::optional<PSCustomVariableBuffer> m_pendingVariables;

    PSPersistentHitStore& hitStore() {
        if (!m_hitStore) m_hitStore = std::make_unique<PSPersistentHitStore>(std::make_shared<PSHitBuilder>());
        return *m_hitStore;
    }

    static std::string errorLine(const PSError& error) {
        char text[32];
        std::snprintf(text, sizeof text, "error 0x%08X ", static_cast<unsigned>(error.code));
        return text + error.domain;
    }

    // The stored hit string, "sampled out" when nothing was stored, or the error.
    std::string put(PSEvent event) {
        PSError error;
        std::optional<PSHit> stored;
        if (!hitStore().putEvent(event, &error, true, &stored)) return errorLine(error);
        return stored ? stored->hitString() : "sampled out";
    }

    // A page view or an event takes the variables set since the last one.
    std::string putWithVariables(PSEvent event) {
        event.customVariableBuffer = std::move(m_pendingVariables);
        m_pendingVariables.reset();
        return put(std::move(event));
    }

    static std::optional<std::string> orNone(const Arg& arg) {
        if (!arg.quoted && arg.text == "-") return std::nullopt;
        return arg.text;
    }

    static std::string pagePath(std::string page) { return page.starts_with("/") ? page : "/" + page; }

    void emitLine(const std::string& text) {
        if (text.starts_with("error ")) status = 2;
        std::fprintf(stdout, "%s\n", text.c_str());
        std::fflush(stdout);
    }

    // `hits` arguments: exactly `n`, none a JSON object.
    static bool count(const std::vector<Arg>& args, std::size_t n) {
        return args.size() == n && std::none_of(args.begin(), args.end(), [](const Arg& a) { return a.object.has_value(); });
    }
    static std::string hitsUsage(const std::string& form) { return "error usage: hits " + form; }

    std::string hitsAccount(const std::vector<Arg>& args) {
        if (!count(args, 1)) return hitsUsage("account ID");
        hitStore().hitBuilder()->setAccountID(args[0].text);
        return "ok";
    }

    std::string hitsVar(const std::vector<Arg>& args) {
        long long slot, scope;
        if (!count(args, 4) || !parseInt(args[0].text, slot) || !parseInt(args[3].text, scope) || slot < 1 ||
            slot > kPSMaxCustomVariables || scope < kPSVisitorScope || scope > kPSPageScope)
            return hitsUsage("var SLOT NAME VALUE SCOPE");
        if (!m_pendingVariables) m_pendingVariables.emplace();
        m_pendingVariables->addCustomVariable(PSCustomVariable(static_cast<unsigned>(slot), args[1].text, args[2].text,
                                                               static_cast<unsigned>(scope)));
        return "ok";
    }

    std::string hitsPage(const std::vector<Arg>& args) {
        if (!count(args, 1)) return hitsUsage("page PATH");
        return putWithVariables(PSEvent(std::string(kPSPageviewEventCategory), pagePath(args[0].text), std::nullopt, -1));
    }

    // Each line goes out as its put returns, so a watcher sees every acknowledged put.
    std::string hitsPageMany(const std::vector<Arg>& args) {
        long long n;
        if (!count(args, 2) || !parseInt(args[0].text, n) || n < 1) return hitsUsage("page-many N PREFIX");
        std::string out;
        for (long long i = 1; i <= n; ++i) {
            if (i > 1) emitLine(out);
            out = putWithVariables(PSEvent(std::string(kPSPageviewEventCategory),
                                           pagePath(args[1].text + "-" + std::to_string(i)), std::nullopt, -1));
        }
        return out;
    }

    std::string hitsEvent(const std::vector<Arg>& args) {
        long long value;
        if (!count(args, 4) || !parseInt(args[3].text, value)) return hitsUsage("event CAT ACTION LABEL|- VALUE");
        return putWithVariables(PSEvent(args[0].text, args[1].text, orNone(args[2]), static_cast<int>(value)));
    }

    std::string hitsTransaction(const std::vector<Arg>& args) {
        double total, tax, shipping;
        if (!count(args, 5) || !parseDouble(args[1].text, total) || !parseDouble(args[3].text, tax) ||
            !parseDouble(args[4].text, shipping))
            return hitsUsage("transaction ORDER TOTAL STORE|- TAX SHIPPING");
        PSEvent event(std::string(kPSTransactionEventCategory), "", "", 0);
        event.transaction.emplace(args[0].text, orNone(args[2]), total, tax, shipping);
        return put(std::move(event));
    }

    std::string hitsItem(const std::vector<Arg>& args) {
        double price;
        long long quantity;
        if (!count(args, 6) || !parseDouble(args[2].text, price) || !parseInt(args[3].text, quantity))
            return hitsUsage("item ORDER SKU PRICE COUNT NAME|- CATEGORY|-");
        PSEvent event(std::string(kPSItemEventCategory), "", "", 0);
        event.item.emplace(args[0].text, args[1].text, orNone(args[4]), orNone(args[5]), price, static_cast<int>(quantity));
        return put(std::move(event));
    }

    std::string hitsReferrer(const std::vector<Arg>& args) {
        if (!count(args, 1)) return hitsUsage("referrer QUERY");
        PSError failure;
        return hitStore().setReferrer(args[0].text, &failure) ? "ok" : errorLine(failure);
    }

    std::string hitsDelete(const std::vector<Arg>& args) {
        long long id;
        if (!count(args, 1) || !parseInt(args[0].text, id) || id < 0) return hitsUsage("delete ID");
        return okOrFail(hitStore().deleteHit(static_cast<std::uint64_t>(id)));
    }

    std::string hitsSample(const std::vector<Arg>& args) {
        long long rate;
        if (!count(args, 1) || !parseInt(args[0].text, rate) || rate < 0 || rate > 100) return hitsUsage("sample N");
        hitStore().setSampleRate(static_cast<unsigned>(rate));
        return "ok";
    }

    std::string hitsAnonymize(const std::vector<Arg>& args) {
        if (!count(args, 1) || (args[0].text != "0" && args[0].text != "1")) return hitsUsage("anonymize 0|1");
        hitStore().setAnonymizeIp(args[0].text == "1");
        return "ok";
    }

    std::string hitsNewVisit(const std::vector<Arg>&) {
        hitStore().startNewSession();
        return "ok";
    }

    std::string hitsCount(const std::vector<Arg>&) {
        PSPersistentHitStore& store = hitStore();
        return store.countHits() ? std::to_string(store.storedHits()) : "fail";
    }

    std::string hitsIds(const std::vector<Arg>&) {
        PSPersistentHitStore& store = hitStore();
        return store.visitorIDForAfma() + " " + store.sessionIDForAfma();
    }

    // `hits SUB ARGS`: the sub-command's step; those marked bare take no argument.
    std::string hits(Line& line) {
        using Step = std::string (Cli::*)(const std::vector<Arg>&);
        struct Entry {
            Step step;
            bool bare;
        };
        static const std::map<std::string, Entry, std::less<>> kSteps = {
            {"account", {&Cli::hitsAccount, false}},
            {"var", {&Cli::hitsVar, false}},
            {"page", {&Cli::hitsPage, false}},
            {"page-many", {&Cli::hitsPageMany, false}},
            {"event", {&Cli::hitsEvent, false}},
            {"transaction", {&Cli::hitsTransaction, false}},
            {"item", {&Cli::hitsItem, false}},
            {"referrer", {&Cli::hitsReferrer, false}},
            {"delete", {&Cli::hitsDelete, false}},
            {"sample", {&Cli::hitsSample, false}},
            {"anonymize", {&Cli::hitsAnonymize, false}},
            {"new-visit", {&Cli::hitsNewVisit, true}},
            {"count", {&Cli::hitsCount, true}},
            {"ids", {&Cli::hitsIds, true}},
        };
        std::string sub, error;
        if (!takeWord(line, sub)) return "error usage: hits SUBCOMMAND";
        std::vector<Arg> args;
        while (std::optional<Arg> arg = line.next(error)) args.push_back(std::move(*arg));
        if (!error.empty()) return "error " + error;
        hitStore();  // opened by the first well-formed line, whatever it asks
        const auto entry = kSteps.find(sub);
        const bool found = entry != kSteps.end();
        if (found && !entry->second.bare) return (this->*entry->second.step)(args);
        if (!args.empty()) return hitsUsage(sub);
        if (found) return (this->*entry->second.step)(args);
        return "error unknown command: hits " + sub;
    }

    // An upload, or a page-view dispatch from its start to its end, retry delay included.
    static bool busy() {
        return UploaderThread::sharedUploaderThread().isUploading() || dk::tools::analyticscli::pageStatsBusy();
    }
    // The player's wrapper over the shared tracker, which the `ps` commands reach too.
    static std::string analytics(const std::vector<Arg>& args) {
        const std::string sub = args.empty() ? "" : args[0].text;
        const std::size_t n = args.size();
        if (sub == "info" && n == 1) {
            std::string out = "{";
            for (const auto& [key, value] : DKPageStatsAnalytics::sharedAnalytics().analyticsInfo()->analyticsData()) {
                if (out.size() > 1) out += ',';
                out += '"';
                plat::foundation::appendJSONEscaped(out, key);
                out += "\":\"";
                plat::foundation::appendJSONEscaped(out, value);
                out += '"';
            }
            return out + "}";
        }
        long long value;
        DKPageStatsAnalytics& wrapper = DKPageStatsAnalytics::sharedAnalytics();
        if (sub == "page" && n == 2) {
            wrapper.trackAppInfo(args[1].text);
        } else if (sub == "event" && n == 5 && parseInt(args[4].text, value)) {
            const std::optional<std::string> label =
                args[3].text == "-" && !args[3].quoted ? std::nullopt : std::optional(args[3].text);
            wrapper.trackEvent(args[1].text, args[2].text, label, static_cast<int>(value));
        } else if (sub == "purchase" && n == 4) {
            wrapper.trackInAppPurchase(args[1].text, args[2].text, args[3].text);
        } else if (sub == "stop" && n == 1) {
            wrapper.stopTracking();
        } else {
            return "error usage: analytics info|page EVENT|event CAT ACTION LABEL|- VALUE|purchase A B C|stop";
        }
        return "ok";
    }

};

}  // namespace

int main(int argc, char** argv) {
    Cli cli;
    const dk::tools::Usage usage = cli.usage();
    dk::tools::ToolOptions options;
    if (std::string why = dk::tools::parseToolOptions(argc, argv, options); !why.empty())
        return dk::tools::refuseCommandLine(usage, why);
    if (options.help) return dk::tools::printHelp(usage);
    std::FILE* in = dk::tools::startTool("dk-analytics-cli", kDefaultIdentifier, options);
    if (!in) return 1;
    if (options.startTime) dk::trackwell::setStartWallTime(*options.startTime);
    if (options.seed) dk::trackwell::seedRandom(static_cast<std::uint64_t>(*options.seed));
    for (auto& [name, url] : options.endpoints) plat::net::setServerBaseOverride(name, url);
    if (options.log) {
        dk::trackwell::setLogHook([](std::string_view message) {
            std::fprintf(stderr, "trackwell: %.*s\n", static_cast<int>(message.size()), message.data());
            std::fflush(stderr);
        });
    }

    dk::tools::runCommands(in, [&](std::string_view line) {
        cli.table.run(line);
        return true;  // refusals set the status as they are printed
    });
    // Nothing more is called: what a client would do on its way out is not this tool's to do.
    std::fflush(nullptr);
    std::_Exit(cli.status);
}
