#include "apps/dk-orbad-cli/DataCommands.h"

#include <cairo.h>

#include <cstdio>
#include <optional>
#include <string>

#include "orbad/core/AESCrypt.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/crypto/Crypto.h"
#include "platform/sys/WholeFile.h"

namespace dk::tools::orbadcli {

using plat::foundation::Value;

bool readFile(const std::string& path, orbad::Data& out) {
    const std::optional<std::string> bytes = plat::sys::readWholeFile(path, plat::sys::kDataFileCap);
    if (!bytes) return false;
    out.assign(bytes->begin(), bytes->end());
    return true;
}

namespace {

std::string hexOf(const orbad::Data& bytes) {
    return "bytes " + plat::crypto::hex(bytes);
}

}  // namespace

const std::vector<AreaCommand<DataCommands>>& DataCommands::commands() {
    static const std::vector<AreaCommand<DataCommands>> table = {
        {"json", {"json FILE [nsnull] [strict]"}, &DataCommands::json},
        {"b64", {"b64 encode FILE [lines] | b64 decode TEXT"}, &DataCommands::b64},
        {"b64x", {"b64x encode FILE [LINELEN] | b64x decode TEXT"}, &DataCommands::b64x},
        {"encode-id", {"encode-id TEXT"}, &DataCommands::encodeId},
        {"sha1", {"sha1 FILE"}, &DataCommands::sha1},
        {"query", {"query TEXT"}, &DataCommands::query},
        {"aes", {"aes encrypt|decrypt KEY FILE | aes encrypt-text|decrypt-text KEY TEXT"}, &DataCommands::aes},
        {"image", {"image NAME [2x] OUT.png"}, &DataCommands::image},
    };
    return table;
}

bool DataCommands::b64(Call& call) {
    return base64(call.args, false);
}

bool DataCommands::b64x(Call& call) {
    return base64(call.args, true);
}

bool DataCommands::encodeId(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: encode-id TEXT");
    say("text " + escape(orbad::orbadEncode(args[0].text)));
    return true;
}

bool DataCommands::sha1(Call& call) {
    const std::vector<Arg>& args = call.args;
    orbad::Data data;
    if (args.size() != 1) return refuse("usage: sha1 FILE");
    if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
    say("text " + orbad::OBConvertDataToSHA1String(data));
    return true;
}

bool DataCommands::query(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: query TEXT");
    for (const auto& [key, value] : orbad::obComponentsFromQueryString(args[0].text))
        say("query " + escape(key) + "=" + escape(*value.string()));
    return true;
}

bool DataCommands::json(Call& call) {
    const std::vector<Arg>& args = call.args;
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

bool DataCommands::base64(const std::vector<Arg>& args, bool second) {
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

bool DataCommands::aes(Call& call) {

    const std::vector<Arg>& args = call.args;
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

bool DataCommands::image(Call& call) {

    const std::vector<Arg>& args = call.args;
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

}  // namespace dk::tools::orbadcli
