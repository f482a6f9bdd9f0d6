#include "apps/cli-support/CommandLine.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Excerpt.h"

namespace dk::tools {

using plat::foundation::Value;

bool parseDouble(const std::string& text, double& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0;
}

bool parseInt(const std::string& text, long long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0;
}

int printHelp(const Usage& usage) {
    std::printf("%s%s", usage.synopsis, usage.commands);
    std::fflush(stdout);
    return 0;
}

int refuseCommandLine(const Usage& usage, const std::string& why) {
    std::fprintf(stderr, "%s: %s\n%s(%s --help lists the commands)\n", usage.tool, why.c_str(), usage.synopsis,
                 usage.tool);
    return 2;
}

std::string parseToolOptions(int argc, char** argv, ToolOptions& options, const OwnOptions& own) {
    static constexpr std::string_view kCommon[] = {"--home",  "--bundle",       "--clock",    "--start-time",
                                                   "--seed",  "--device-facts", "--endpoint", "--commands"};
    auto known = [&](std::string_view name) {
        return std::find(std::begin(kCommon), std::end(kCommon), name) != std::end(kCommon) ||
               std::find(own.names.begin(), own.names.end(), name) != own.names.end();
    };
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i], value;
        if (option == "--log") {
            options.log = true;
            continue;
        }
        if (option == "--help" || option == "-h") {
            options.help = true;
            return "";
        }
        const std::size_t eq = option.starts_with("--") ? option.find('=') : std::string::npos;
        if (eq != std::string::npos) option.resize(eq);
        // Named before its value is looked for: the last option of the line has none to take.
        if (!known(option)) return "unknown option " + option;
        if (eq != std::string::npos) {
            value = std::string(argv[i]).substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return "missing value for " + option;
        }
        std::string error;
        if (option == "--home") {
            options.home = value;
        } else if (option == "--bundle") {
            options.bundle = value;
        } else if (option == "--clock") {
            if (value != "virtual" && value != "real") return "--clock takes virtual or real";
            options.clock = value;
        } else if (option == "--start-time") {
            double t;
            if (!parseDouble(value, t)) return "--start-time takes seconds since 1970";
            options.startTime = t;
        } else if (option == "--seed") {
            long long n;
            if (!parseInt(value, n)) return "--seed takes an integer";
            options.seed = n;
        } else if (option == "--device-facts") {
            options.deviceFacts = value;
        } else if (option == "--endpoint") {
            std::size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) return "--endpoint takes NAME=VALUE";
            options.endpoints.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (option == "--commands") {
            options.commands = value;
        } else {
            own.read(option, value, error);
        }
        if (!error.empty()) return error;
    }
    return options.home.empty() ? "--home is required" : "";
}

std::FILE* startTool(const char* tool, const char* defaultIdentifier, const ToolOptions& options) {
    using namespace plat::foundation;
    if (options.clock == "virtual") Clock::process().startVirtualAt(0);
    std::string identifier = defaultIdentifier;
    Error error;
    if (!options.bundle.empty()) {
        std::optional<Bundle> bundle = Bundle::open(options.bundle, &error);
        if (!bundle) {
            std::fprintf(stderr, "%s: %s\n", tool, error.message.c_str());
            return nullptr;
        }
        if (!bundle->identifier().empty()) identifier = bundle->identifier();
        Bundle::setMain(std::move(*bundle));
    }
    std::optional<Container> container = Container::open(identifier, options.home, &error);
    if (!container) {
        std::fprintf(stderr, "%s: %s\n", tool, error.message.c_str());
        return nullptr;
    }
    Container::setMain(std::move(*container));
    if (!options.deviceFacts.empty()) setDeviceFactsFile(options.deviceFacts);
    if (options.commands.empty()) return stdin;
    std::FILE* in = std::fopen(options.commands.c_str(), "r");
    if (!in) std::fprintf(stderr, "%s: cannot read %s: %s\n", tool, options.commands.c_str(), std::strerror(errno));
    return in;
}

void Line::skipBlanks() {
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
}

std::optional<Arg> Line::next(std::string& error) {
    skipBlanks();
    if (rest.empty()) return std::nullopt;
    std::size_t end = 0;
    if (rest.front() == '"' || rest.front() == '{') {
        int depth = 0;
        bool inString = false;
        for (; end < rest.size(); ++end) {
            char c = rest[end];
            if (inString) {
                if (c == '\\')
                    ++end;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}') {
                --depth;
            }
            if (!inString && depth == 0 && (c == '"' || c == '}')) {
                ++end;
                break;
            }
        }
        std::string_view token = rest.substr(0, end);
        if (end < rest.size() && !isBlank(rest[end])) {
            error = "malformed argument: " + std::string(rest);
            return std::nullopt;
        }
        std::string why;
        std::optional<Value> value = Value::fromJSON(token, &why);
        if (!value || (!value->string() && !value->dictionary())) {
            error = "malformed argument: " + std::string(token);
            return std::nullopt;
        }
        rest.remove_prefix(end);
        Arg arg;
        arg.quoted = true;
        if (const std::string* s = value->string())
            arg.text = *s;
        else
            arg.object = std::move(value);
        arg.raw = std::string(token);
        return arg;
    }
    while (end < rest.size() && !isBlank(rest[end])) ++end;
    Arg arg{std::string(rest.substr(0, end)), std::nullopt, {}, false};
    rest.remove_prefix(end);
    return arg;
}

bool Line::takeWord(std::string& word) {
    skipBlanks();
    std::size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end])) ++end;
    word = std::string(rest.substr(0, end));
    rest.remove_prefix(end);
    return !word.empty();
}

std::string Line::restOf() {
    skipBlanks();
    return std::string(rest);
}

bool splitCommand(std::string_view text, std::string& name, std::vector<Arg>& args, std::string& error) {
    Line line{text};
    args.clear();
    while (std::optional<Arg> arg = line.next(error)) args.push_back(std::move(*arg));
    if (!error.empty()) return false;
    if (args.empty() || args[0].quoted) {
        error = "unknown command: " + plat::sys::excerpt(text);
        return false;
    }
    name = std::move(args[0].text);
    args.erase(args.begin());
    return true;
}

std::string escape(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

bool turnWhileBusy(const std::function<bool()>& busy, double limit) {
    using plat::foundation::Clock;
    using plat::foundation::RunLoop;
    RunLoop& loop = RunLoop::main();
    auto drain = [&] {
        while (loop.runOnce(0) == RunLoop::RunResult::SourceHandled) {
        }
    };
    const double start = Clock::monotonicSeconds();
    drain();
    while (busy() && Clock::monotonicSeconds() - start < limit) {
        usleep(500);
        drain();
    }
    return !busy();
}

namespace {

bool readLine(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    return c != EOF || !line.empty();
}

}  // namespace

int runCommands(std::FILE* in, const std::function<bool(std::string_view line)>& run) {
    int status = 0;
    std::string line;
    while (readLine(in, line)) {
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        if (!run(line)) status = 2;
        std::fflush(stdout);
    }
    return status;
}

}  // namespace dk::tools
