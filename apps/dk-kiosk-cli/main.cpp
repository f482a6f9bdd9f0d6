// dk-kiosk-cli: the content-ads client's JSON and text utilities as one-shot commands, for tests
// and outside checks.
//
//   dk-kiosk-cli json parse [--max-depth N]
//   dk-kiosk-cli json write [--human-readable] [--sort-keys] [--max-depth N]
//   dk-kiosk-cli util NAME ARG...
//   dk-kiosk-cli --home DIR ...        (command mode: CommandMode.h)
//   dk-kiosk-cli --help                (the usage with every command)
//
// `json` reads standard input whole and prints the value written compactly (parse) or with the
// writer options (write; --max-depth is the writer's, the parser then stops only at the hard
// cap), then a line feed; on failure the error trace, one "error CODE: DESCRIPTION" line each,
// first to last, and exit status 1. `util` prints one line. A JSON argument that does not parse
// (scalars included) gives its trace and status 1 too; a bad command line a message on standard error and status 2.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "apps/dk-kiosk-cli/CommandMode.h"
#include "kiosk/KSJsonParser.h"
#include "kiosk/KSJsonWriter.h"
#include "kiosk/KSStringUtil.h"
#include "platform/sys/FileModes.h"

namespace {

constexpr const char* kUsage =
    "usage: dk-kiosk-cli json parse [--max-depth N]\n"
    "       dk-kiosk-cli json write [--human-readable] [--sort-keys] [--max-depth N]\n"
    "       dk-kiosk-cli util NAME ARG...\n"
    "  NAME: sha1-hex T, sha1-b64 T, base64 T, hex T, uuid, url-encode T, url-decode T,\n"
    "        form-encode T, form-decode T, query-read T, query-string-read T, query-write JSON,\n"
    "        query-with JSON, query-quirky JSON, html-escape T, agnostic JSON\n";

int usage(const std::string& why) {
    std::fprintf(stderr, "dk-kiosk-cli: %s\n%s", why.c_str(), kUsage);
    return 2;
}

int printTrace(const KSJsonBase& json) {
    for (const KSJsonError& error : json.errorTrace()) std::printf("error %d: %s\n", error.code, error.description.c_str());
    return 1;
}

int printLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

// nil as the platform's "%@" writes it.
int printLine(const std::optional<std::string>& text) {
    return printLine(text.value_or("(null)"));
}

std::string compact(const KSJsonValue& value) {
    KSJsonWriter writer;
    writer.setMaxDepth(0);
    return writer.stringWithObject(value).value_or(std::string());
}

int json(const std::vector<std::string>& args) {
    if (args.empty() || (args[0] != "parse" && args[0] != "write")) return usage("json needs parse or write");
    bool write = args[0] == "write";
    KSJsonParser parser;
    KSJsonWriter writer;
    std::optional<std::size_t> depth;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--max-depth" && i + 1 < args.size()) {
            long long n;
            if (!dk::tools::parseInt(args[++i], n) || n < 0) return usage("--max-depth needs a number: " + args[i]);
            depth = static_cast<std::size_t>(n);
        } else if (write && args[i] == "--human-readable") {
            writer.setHumanReadable(true);
        } else if (write && args[i] == "--sort-keys") {
            writer.setSortKeys(true);
        } else {
            return usage("unknown option: " + args[i]);
        }
    }
    if (write) {
        parser.setMaxDepth(0);
        if (depth) writer.setMaxDepth(*depth);
    } else {
        writer.setMaxDepth(0);
        if (depth) parser.setMaxDepth(*depth);
    }
    std::string input(std::istreambuf_iterator<char>(std::cin), {});
    std::optional<KSJsonValue> value = parser.objectWithString(input);
    if (!value) return printTrace(parser);
    std::optional<std::string> text = writer.stringWithObject(*value);
    if (!text) return printTrace(writer);
    return printLine(*text);
}

// Any JSON value, scalars included: the parser reads only containers, so a text it finds a valid
// fragment is read again as the element of an array.
std::optional<KSJsonValue> parseArgument(const std::string& text, KSJsonParser& parser) {
    parser.setMaxDepth(0);
    if (std::optional<KSJsonValue> value = parser.objectWithString(text)) return value;
    const auto& trace = parser.errorTrace();
    if (trace.size() != 1 || trace.front().code != kKSJsonFragment) return std::nullopt;
    std::optional<KSJsonValue> wrapped = parser.objectWithString("[" + text + "]");
    return std::move(wrapped->array()->front());
}

int util(const std::vector<std::string>& args) {
    if (args.empty()) return usage("util needs a name");
    const std::string& name = args[0];
    if (name == "uuid") {
        if (args.size() != 1) return usage("uuid takes no argument");
        return printLine(KSStringUtil::uuid());
    }
    using Text = std::string (*)(std::string_view);
    static const std::map<std::string, Text> kTextOps = {
        {"sha1-hex", KSStringUtil::hexDigestForString},
        {"sha1-b64", KSStringUtil::b64DigestForString},
        {"base64", [](std::string_view t) { return KSStringUtil::base64EncodedStringForData(t.data(), t.size()); }},
        {"hex", [](std::string_view t) { return KSStringUtil::hexEncodedStringForData({t.begin(), t.end()}); }},
        {"url-encode", KSStringUtil::stringByUrlEncodingString},
        {"url-decode", [](std::string_view t) { return KSStringUtil::stringByUrlDecodingString(t).value_or("(null)"); }},
        {"form-encode", kiosk::stringByEncodingURLFormat},
        {"form-decode", [](std::string_view t) { return kiosk::stringByDecodingURLFormat(t).value_or("(null)"); }},
        {"html-escape", KSStringUtil::stringByHtmlEscapingString},
        {"query-read", [](std::string_view t) { return compact(kiosk::dictionaryFromQueryComponents(t)); }},
        {"query-string-read", [](std::string_view t) { return compact(KSStringUtil::dictionaryWithQueryString(t)); }},
    };
    static const std::set<std::string> kJsonOps = {"query-write", "query-with", "query-quirky", "agnostic"};
    // The name first: an unknown one is said so, whatever follows it.
    if (!kTextOps.count(name) && !kJsonOps.count(name)) return usage("unknown util: " + name);
    if (args.size() != 2) return usage(name + " takes one argument");
    const std::string& arg = args[1];
    if (auto it = kTextOps.find(name); it != kTextOps.end()) return printLine(it->second(arg));

    KSJsonParser parser;
    std::optional<KSJsonValue> value = parseArgument(arg, parser);
    if (!value) return printTrace(parser);
    if (name == "agnostic") return printLine(kiosk::agnosticText(&*value));
    const KSJsonObject* object = value->object();
    if (!object) return usage(name + " needs a JSON object");
    if (name == "query-write") return printLine(kiosk::stringFromQueryComponents(*object));
    if (name == "query-with") return printLine(KSStringUtil::stringWithQuery(*object));
    return printLine(KSStringUtil::stringWithQueryQuirky(*object));
}

}  // namespace

int main(int argc, char** argv) {
    plat::sys::keepNewFilesPrivate();  // the home is the user's alone, the page engine's files too
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage("no mode given");
    if (args.front() == "--help" || args.front() == "-h") return dk::tools::printHelp(dk::tools::kioskcli::kioskUsage());
    if (args.front().starts_with("--")) return dk::tools::kioskcli::runCommandMode(argc, argv);
    std::string mode = args.front();
    args.erase(args.begin());
    if (mode == "json") return json(args);
    if (mode == "util") return util(args);
    return usage("unknown mode: " + mode);
}

// Fontconfig (behind the badge's text) keeps its configuration and caches for the life of the
// process, and so do GLib and WebKit (behind `--web wpe`, not instrumented); not ours to report in
// sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
           "leak:libWPEWebKit-1.1.so\nleak:libwpe-1.0.so\nleak:libWPEBackend-fdo-1.0.so\n";
}

// Quietly: tests read the program's standard output and error.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
