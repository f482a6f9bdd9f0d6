#include "orbad/core/OrbadHelper.h"

#include <cstring>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/UTF8.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const Value* valueForKeyPath(const Value& dictionary, std::string_view keyPath) {
    const Value* at = &dictionary;
    for (;;) {
        const size_t dot = keyPath.find('.');
        if (!at->dictionary()) return nullptr;
        at = at->find(keyPath.substr(0, dot));
        if (!at || dot == std::string_view::npos) return at;
        keyPath.remove_prefix(dot + 1);
    }
}

float floatForKeyPath(const Value& dictionary, std::string_view keyPath) {
    const Value* v = valueForKeyPath(dictionary, keyPath);
    return v ? static_cast<float>(v->doubleValue()) : 0.0f;
}

int64_t integerForKeyPath(const Value& dictionary, std::string_view keyPath) {
    const Value* v = valueForKeyPath(dictionary, keyPath);
    return v ? v->intValue() : 0;
}

std::optional<std::string> stringForKeyPath(const Value& dictionary, std::string_view keyPath) {
    const Value* v = valueForKeyPath(dictionary, keyPath);
    if (!v || v->isNull() || v->array() || v->dictionary()) return std::nullopt;
    if (const std::string* s = v->string()) {
        if (*s == "null") return std::nullopt;
        return *s;
    }
    return numberDescription(*v);
}

std::optional<std::string> urlForKeyPath(const Value& dictionary, std::string_view keyPath) {
    std::optional<std::string> text = stringForKeyPath(dictionary, keyPath);
    if (!text || text->find("://") == std::string::npos) return std::nullopt;
    return text;
}

std::optional<plat::ui::Color> colorForKeyPath(const Value& dictionary, std::string_view keyPath) {
    if (!valueForKeyPath(dictionary, keyPath)) return std::nullopt;
    const std::string path(keyPath);
    auto part = [&](const char* suffix) { return integerForKeyPath(dictionary, path + suffix) / 255.0; };
    return plat::ui::Color{part(".r"), part(".g"), part(".b"), part(".a")};
}

TextAlignment alignmentForKeyPath(const Value& dictionary, std::string_view keyPath) {
    std::optional<std::string> text = stringForKeyPath(dictionary, keyPath);
    if (text == "right") return TextAlignment::Right;
    if (text == "center") return TextAlignment::Center;
    return TextAlignment::Left;
}

std::string obBuildQueryString(const Value& dictionary) {
    std::string out;
    if (!dictionary.dictionary()) return out;
    for (const auto& [key, value] : *dictionary.dictionary()) {
        if (!out.empty()) out += '&';
        out += obURLEncodedString(key);
        out += '=';
        const std::string* text = value.string();
        out += obURLEncodedString(text ? *text : numberDescription(value));
    }
    return out;
}

std::string orbadEncode(std::string_view text) {
    const std::string base64 =
        OBNewBase64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), true);
    return stringWithHexBytes(Data(base64.begin(), base64.end()));
}

std::string obURLEncodedString(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<uint8_t>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string obURLDecodedString(std::string_view text) {
    std::string plus(text);
    for (char& c : plus)
        if (c == '+') c = ' ';
    // Escapes are decoded a run at a time, so a run that is not UTF-8 can be kept as written.
    std::string out;
    out.reserve(plus.size());
    size_t i = 0;
    while (i < plus.size()) {
        if (plus[i] != '%') {
            out += plus[i++];
            continue;
        }
        const size_t runStart = i;
        std::string bytes;
        while (i + 2 < plus.size() && plus[i] == '%' && hexDigit(plus[i + 1]) >= 0 &&
               hexDigit(plus[i + 2]) >= 0) {
            bytes += static_cast<char>(hexDigit(plus[i + 1]) << 4 | hexDigit(plus[i + 2]));
            i += 3;
        }
        if (bytes.empty()) {
            out += plus[i++];
            continue;
        }
        if (utf8::valid(bytes))
            out += bytes;
        else
            out.append(plus, runStart, i - runStart);
    }
    return out;
}

std::string obStringByAddingHTMLEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\'')
            out += "&#39;";
        else if (c == '"')
            out += "&#34;";
        else if (c == '\n')
            out += "&#10;";
        else
            out += c;
    }
    return out;
}

Value::Dictionary obComponentsFromQueryString(std::string_view query) {
    Value::Dictionary out;
    while (true) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        if (const size_t eq = piece.find('='); eq != std::string_view::npos)
            out.insert_or_assign(obURLDecodedString(piece.substr(0, eq)),
                                 Value(obURLDecodedString(piece.substr(eq + 1))));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return out;
}

std::string stringWithHexBytes(const Data& data) {
    return plat::crypto::hex(data, true);
}

std::string orbadBase64EncodedString(const Data& data) {
    return OBNewBase64Encode(data.data(), data.size(), true);
}

Data orbadDataFromBase64EncodedString(std::string_view text) {
    return OBNewBase64Decode(text.data(), text.size());
}

std::string OBNewBase64Encode(const uint8_t* bytes, size_t length, bool separateLines) {
    std::string out;
    out.reserve((length + 2) / 3 * 4 + (separateLines ? length / 48 * 2 : 0));
    size_t lineLength = 0;
    for (size_t i = 0; i < length; i += 3) {
        if (separateLines && lineLength == 64) {
            out += "\r\n";
            lineLength = 0;
        }
        const size_t left = length - i;
        const uint32_t group = uint32_t{bytes[i]} << 16 | (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0) |
                               (left > 2 ? bytes[i + 2] : 0);
        out += kAlphabet[group >> 18 & 63];
        out += kAlphabet[group >> 12 & 63];
        out += left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        out += left > 2 ? kAlphabet[group & 63] : '=';
        lineLength += 4;
    }
    return out;
}

Data OBNewBase64Decode(const char* text, size_t length) {
    if (length == SIZE_MAX) length = text ? std::strlen(text) : 0;
    Data out;
    out.reserve(length / 4 * 3 + 2);
    uint32_t group = 0;
    int count = 0;
    for (size_t i = 0; i < length; ++i) {
        const int d = base64Digit(static_cast<uint8_t>(text[i]));
        if (d < 0) continue;
        group = group << 6 | static_cast<uint32_t>(d);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(group >> 16));
            out.push_back(static_cast<uint8_t>(group >> 8));
            out.push_back(static_cast<uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<uint8_t>(group >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<uint8_t>(group >> 10));
        out.push_back(static_cast<uint8_t>(group >> 2));
    }
    return out;
}

std::string OBConvertDataToSHA1String(const Data& data) {
    std::optional<plat::crypto::Bytes> digest =
        plat::crypto::digest(plat::crypto::Algorithm::SHA1, data.data(), data.size());
    return digest ? plat::crypto::hex(*digest, true) : std::string();
}

Error obErrorWithCode(int code) {
    return Error{std::string(kOBAdsErrorDomain), code, "", {}};
}

Error obErrorWithCode(int code, std::string description) {
    return obErrorWithCode(
        code, Value::Dictionary{{std::string(kLocalizedDescriptionKey), Value(std::move(description))}});
}

Error obErrorWithCode(int code, Value::Dictionary userInfo) {
    Error error{std::string(kOBAdsErrorDomain), code, "", Value(std::move(userInfo))};
    if (const Value* d = error.userInfo.find(kLocalizedDescriptionKey); d && d->string())
        error.message = *d->string();
    return error;
}

std::optional<Value> obDictionaryWithJSONData(const Data& data, Error* error) {
    return OrbadJSONDeserializer().deserialize(data, error);
}

std::shared_ptr<plat::ui::View> subviewWithClassName(const plat::ui::View& view, std::string_view className,
                                                     bool topLevelOnly) {
    for (const auto& subview : view.subviews())
        if (className == subview->className()) return subview;
    if (topLevelOnly) return nullptr;
    for (const auto& subview : view.subviews())
        if (auto found = subviewWithClassName(*subview, className, false)) return found;
    return nullptr;
}

}  // namespace orbad
