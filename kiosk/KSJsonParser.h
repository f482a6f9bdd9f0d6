// The content-ads client's JSON reader: a recursive descent over UTF-8 bytes that reads an object
// or an array, leaving every failure in the error trace. Strings must be strict UTF-8 (else code 3,
// "Invalid UTF-8 in string").
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kiosk/KSJsonBase.h"
#include "kiosk/KSJsonValue.h"

class KSJsonParser : public KSJsonBase {
public:
    // The object or array `text` holds; nothing on failure (nullopt input reads as nil). A NUL
    // byte ends the input. Clears the trace first.
    std::optional<KSJsonValue> objectWithString(std::optional<std::string_view> text);
    // The same; on failure `error`, when given, receives the last error of the trace.
    std::optional<KSJsonValue> objectWithString(std::optional<std::string_view> text, KSJsonError* error);

private:
    bool scanValue(KSJsonValue& out);
    bool scanRestOfTrue(KSJsonValue& out);
    bool scanRestOfFalse(KSJsonValue& out);
    bool scanRestOfNull(KSJsonValue& out);
    bool scanRestOfArray(KSJsonValue& out);
    bool scanRestOfDictionary(KSJsonValue& out);
    bool scanRestOfString(std::string& out);
    bool scanUnicodeChar(std::string& out);
    bool scanHexQuad(unsigned& out);
    bool scanNumber(KSJsonValue& out);
    bool scanIsAtEnd();

    bool atEnd() const { return m_c == m_end; }
    void skipWhitespace();
    bool scanWord(std::string_view rest, const char* error);

    const char* m_c = nullptr;
    const char* m_end = nullptr;
};
