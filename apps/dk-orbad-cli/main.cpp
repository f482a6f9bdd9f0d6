// dk-orbad-cli: the ad network client driven headless, one command a line, for tests and outside
// checks.
//
//   dk-orbad-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]
//                [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]
//                [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web fake|real] [--log]
//                [--commands FILE]
//
// Commands come from FILE, else standard input. What happens prints as it happens; each command
// prints its own result lines. Texts are escaped (\\ \r \n \t, other controls \xHH); `json` results
// print as the client writes them. Exit status 0 after an orderly shutdown; 1 when the container
// cannot be made or the command file read; 2 for a bad command line, or when a command was refused
// ("error ...").
#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "orbad/core/AESCrypt.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"

namespace {

using dk::cli::Arg;
using dk::cli::escape;
using dk::cli::Line;
using dk::cli::parseDouble;
using dk::cli::parseInt;
using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::foundation::Value;

constexpr const char* kDefaultIdentifier = "com.drovik.orbad-cli";

int usage(const char* why) {
    std::fprintf(stderr,
                 "dk-orbad-cli: %s\n"
                 "usage: dk-orbad-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]\n"
                 "         [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]\n"
                 "         [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web fake|real] [--log]\n"
                 "         [--commands FILE]\n",
                 why);
    return 2;
}

// What the options set that later commands use.
struct Settings {
    std::string pasteboards, net = "wifi", web = "fake";
    std::vector<std::pair<std::string, std::string>> endpoints;
    std::optional<long long> seed;
    double startWall = 0;
    bool log = false;
};

void say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

bool readFile(const std::string& path, orbad::Data& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string hexOf(const orbad::Data& bytes) {
    return "bytes " + plat::crypto::hex(bytes);
}

class Cli {
public:
    explicit Cli(Settings settings) : m_settings(std::move(settings)) {}

    // Runs one command line; false when it was refused (after saying why).
    bool run(std::string_view text) {
        Line line{text};
        std::string error;
        std::vector<Arg> args;
        while (std::optional<Arg> arg = line.next(error)) args.push_back(std::move(*arg));
        if (!error.empty()) return refuse(error);
        if (args.empty() || args[0].quoted) return refuse("unknown command: " + std::string(text));
        const std::string name = args[0].text;
        args.erase(args.begin());
        if (name == "run") return runFor(args);
        if (name == "settle") return settle(args);
        if (name == "time") {
            if (!args.empty()) return refuse("usage: time");
            char out[64];
            std::snprintf(out, sizeof out, "time %.3f", m_settings.startWall + Clock::process().now());
            say(out);
            return true;
        }
        if (name == "json") return json(args);
        if (name == "b64") return base64(args, false);
        if (name == "b64x") return base64(args, true);
        if (name == "encode-id") {
            if (args.size() != 1) return refuse("usage: encode-id TEXT");
            say("text " + escape(orbad::orbadEncode(args[0].text)));
            return true;
        }
        if (name == "sha1") {
            orbad::Data data;
            if (args.size() != 1) return refuse("usage: sha1 FILE");
            if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
            say("text " + orbad::OBConvertDataToSHA1String(data));
            return true;
        }
        if (name == "query") {
            if (args.size() != 1) return refuse("usage: query TEXT");
            for (const auto& [key, value] : orbad::obComponentsFromQueryString(args[0].text))
                say("query " + escape(key) + "=" + escape(*value.string()));
            return true;
        }
        if (name == "aes") return aes(args);
        if (name == "image") return image(args);
        return refuse("unknown command: " + name);
    }

private:
    static bool refuse(const std::string& why) {
        say("error " + why);
        return false;
    }

    bool runFor(const std::vector<Arg>& args) {
        double seconds;
        if (args.size() != 1 || !parseDouble(args[0].text, seconds) || seconds < 0)
            return refuse("usage: run S");
        RunLoop::main().runFor(seconds);
        say("ok");
        return true;
    }

    // Nothing of this client's work runs off the main loop yet, so one turn settles it.
    bool settle(const std::vector<Arg>& args) {
        double limit = 10;
        if (args.size() > 1 || (args.size() == 1 && (!parseDouble(args[0].text, limit) || limit < 0)))
            return refuse("usage: settle [MAX]");
        RunLoop::main().runOnce(0);
        say("idle");
        return true;
    }

    bool json(const std::vector<Arg>& args) {
        if (args.empty() || args.size() > 3) return refuse("usage: json FILE [nsnull] [strict]");
        bool nsnull = false, strict = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i].text == "nsnull")
                nsnull = true;
            else if (args[i].text == "strict")
                strict = true;
            else
                return refuse("usage: json FILE [nsnull] [strict]");
        }
        orbad::Data data;
        if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
        orbad::OrbadJSONScanner scanner(std::move(data));
        if (!nsnull) scanner.setNullObject(std::nullopt);
        scanner.setStrictEscapeCodes(strict);
        std::optional<Value> value;
        orbad::Error error;
        if (!scanner.scanJSONObject(&value, &error)) {
            say("json ERROR " + error.domain + " " + std::to_string(error.code) + " " +
                escape(error.message));
            return true;
        }
        if (!value) {
            say("json NIL");
            return true;
        }
        std::optional<std::string> text = orbad::OBJSONSerializer().serializeObject(*value, &error);
        say(text ? "json " + *text
                 : "json ERROR " + error.domain + " " + std::to_string(error.code) + " " +
                       escape(error.message));
        return true;
    }

    bool base64(const std::vector<Arg>& args, bool second) {
        const char* usageText = second ? "usage: b64x encode FILE [LINELEN] | b64x decode TEXT"
                                       : "usage: b64 encode FILE [lines] | b64 decode TEXT";
        if (args.size() < 2) return refuse(usageText);
        if (args[0].text == "decode" && args.size() == 2) {
            const std::string& text = args[1].text;
            say(hexOf(second ? orbad::dataWithBase64EncodedString(text)
                             : orbad::OBNewBase64Decode(text.data(), text.size())));
            return true;
        }
        if (args[0].text != "encode" || args.size() > 3) return refuse(usageText);
        long long lineLength = 0;
        if (args.size() == 3) {
            if (second ? !parseInt(args[2].text, lineLength) || lineLength < 0 : args[2].text != "lines")
                return refuse(usageText);
        }
        orbad::Data data;
        if (!readFile(args[1].text, data)) return refuse("cannot read " + args[1].text);
        const std::string text = second
                                     ? orbad::base64Encoding(data, static_cast<size_t>(lineLength))
                                     : orbad::OBNewBase64Encode(data.data(), data.size(), args.size() == 3);
        say("text " + escape(text));
        return true;
    }

    bool aes(const std::vector<Arg>& args) {
        constexpr const char* kUsage =
            "usage: aes encrypt|decrypt KEY FILE | aes encrypt-text|decrypt-text KEY TEXT";
        if (args.size() != 3) return refuse(kUsage);
        const std::string& op = args[0].text;
        const std::string& key = args[1].text;
        if (op == "encrypt" || op == "decrypt") {
            orbad::Data data;
            if (!readFile(args[2].text, data)) return refuse("cannot read " + args[2].text);
            std::optional<orbad::Data> out = op == "encrypt" ? orbad::AES256EncryptWithKey(data, key)
                                                             : orbad::AES256DecryptWithKey(data, key);
            say(out ? hexOf(*out) : "NIL");
            return true;
        }
        if (op == "encrypt-text" || op == "decrypt-text") {
            std::optional<std::string> out = op == "encrypt-text"
                                                 ? orbad::AES256EncryptStringWithKey(args[2].text, key)
                                                 : orbad::AES256DecryptStringWithKey(args[2].text, key);
            say(out ? "text " + escape(*out) : "NIL");
            return true;
        }
        return refuse(kUsage);
    }

    bool image(const std::vector<Arg>& args) {
        constexpr const char* kUsage = "usage: image NAME [2x] OUT.png";
        if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[1].text != "2x"))
            return refuse(kUsage);
        auto picture =
            orbad::OBResourcesController::sharedResources()->imageNamed(args[0].text, args.size() == 3);
        if (!picture) return refuse("unknown image: " + args[0].text);
        if (cairo_surface_write_to_png(picture->surface(), args.back().text.c_str()) != CAIRO_STATUS_SUCCESS)
            return refuse("cannot write " + args.back().text);
        char out[96];
        std::snprintf(out, sizeof out, "image %dx%d scale=%g", picture->pixelWidth(), picture->pixelHeight(),
                      picture->scale());
        say(out);
        return true;
    }

    Settings m_settings;
};

}  // namespace

int main(int argc, char** argv) {
    dk::cli::ToolOptions options;
    Settings settings;
    std::string device;
    const std::string why = dk::cli::parseToolOptions(
        argc, argv, options, [&](const std::string& option, const std::string& value, std::string& error) {
            if (option == "--pasteboards") {
                settings.pasteboards = value;
            } else if (option == "--device") {
                if (!plat::sys::findDevicePreset(value)) error = "unknown device preset " + value;
                device = value;
            } else if (option == "--net") {
                if (value != "wifi" && value != "wwan" && value != "none") error = "--net takes wifi, wwan or none";
                settings.net = value;
            } else if (option == "--web") {
                if (value != "fake" && value != "real") error = "--web takes fake or real";
                settings.web = value;
            } else {
                return false;
            }
            return true;
        });
    if (!why.empty()) return usage(why.c_str());
    settings.log = options.log;
    settings.seed = options.seed;
    settings.endpoints = options.endpoints;

    std::FILE* in = dk::cli::startTool("dk-orbad-cli", kDefaultIdentifier, options);
    if (!in) return 1;
    settings.startWall = options.startTime ? *options.startTime : Clock::wallSeconds() - Clock::process().now();
    if (!device.empty()) plat::sys::Device::current().setPreset(device);

    Cli cli(std::move(settings));
    const int status = dk::cli::runCommands(in, [&](std::string_view line) { return cli.run(line); });
    if (in != stdin) std::fclose(in);
    orbad::OBResourcesController::shutdown();
    std::fflush(nullptr);
    return status;
}
