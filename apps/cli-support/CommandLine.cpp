#include "apps/cli-support/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"

namespace dk::cli {

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

bool optionValue(int argc, char** argv, int& i, std::string& option, std::string& value) {
    option = argv[i];
    if (std::size_t eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
        value = option.substr(eq + 1);
        option.resize(eq);
        return true;
    }
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

bool openHome(const char* tool, std::string identifier, const std::string& bundlePath, const std::string& home) {
    plat::foundation::Error error;
    if (!bundlePath.empty()) {
        std::optional<plat::foundation::Bundle> bundle = plat::foundation::Bundle::open(bundlePath, &error);
        if (!bundle) {
            std::fprintf(stderr, "%s: %s\n", tool, error.message.c_str());
            return false;
        }
        if (!bundle->identifier().empty()) identifier = bundle->identifier();
        plat::foundation::Bundle::setMain(std::move(*bundle));
    }
    std::optional<plat::foundation::Container> container = plat::foundation::Container::open(identifier, home, &error);
    if (!container) {
        std::fprintf(stderr, "%s: %s\n", tool, error.message.c_str());
        return false;
    }
    plat::foundation::Container::setMain(std::move(*container));
    return true;
}

std::FILE* openCommands(const char* tool, const std::string& path) {
    if (path.empty()) return stdin;
    std::FILE* in = std::fopen(path.c_str(), "r");
    if (!in) std::fprintf(stderr, "%s: cannot read %s: %s\n", tool, path.c_str(), std::strerror(errno));
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

}  // namespace dk::cli
