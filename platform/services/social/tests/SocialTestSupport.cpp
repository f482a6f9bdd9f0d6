#include "platform/services/social/tests/SocialTestSupport.h"

#include "platform/services/social/OAuth.h"

namespace dktest {

namespace {

std::string decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
    return out;
}

}  // namespace

std::map<std::string, std::string> oauthHeaderParameters(const std::string& header) {
    std::map<std::string, std::string> parameters;
    if (header.rfind("OAuth ", 0) != 0) return parameters;
    std::string rest = header.substr(6);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string item = trimmed(rest.substr(0, comma));
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        const size_t equals = item.find('=');
        if (equals == std::string::npos || item.size() < equals + 3) continue;
        parameters[item.substr(0, equals)] = decode(item.substr(equals + 2, item.size() - equals - 3));
    }
    return parameters;
}

bool carriesValidSignature(const ReceivedRequest& request, const std::string& url,
                           const plat::social::Account& account) {
    const std::string* header = request.header("Authorization");
    if (!header) return false;
    std::map<std::string, std::string> oauth = oauthHeaderParameters(*header);
    const std::string signature = oauth["oauth_signature"];
    oauth.erase("oauth_signature");
    plat::social::Parameters parameters(oauth.begin(), oauth.end());
    const std::string* type = request.header("Content-Type");
    if (type && type->rfind("application/x-www-form-urlencoded", 0) == 0) {
        std::string body = request.body;
        while (!body.empty()) {
            const size_t amp = body.find('&');
            const std::string pair = body.substr(0, amp);
            body = amp == std::string::npos ? "" : body.substr(amp + 1);
            const size_t equals = pair.find('=');
            parameters.emplace_back(decode(pair.substr(0, equals)),
                                    equals == std::string::npos ? "" : decode(pair.substr(equals + 1)));
        }
    }
    return !signature.empty() &&
           signature == plat::social::hmacSHA1Signature(plat::social::signatureBaseString(request.method, url, parameters),
                                                        account.credentials.consumerSecret,
                                                        account.credentials.tokenSecret);
}

std::vector<ReceivedPart> multipartParts(const ReceivedRequest& request) {
    std::vector<ReceivedPart> parts;
    const std::string* type = request.header("Content-Type");
    const size_t at = type ? type->find("boundary=") : std::string::npos;
    if (at == std::string::npos) return parts;
    const std::string delimiter = "--" + type->substr(at + 9);
    const std::string& body = request.body;
    size_t start = body.find(delimiter);
    while (start != std::string::npos) {
        start += delimiter.size();
        if (body.compare(start, 2, "--") == 0) break;
        start += 2;  // the line break after the delimiter
        const size_t end = body.find("\r\n" + delimiter, start);
        if (end == std::string::npos) break;
        const std::string part = body.substr(start, end - start);
        const size_t blank = part.find("\r\n\r\n");
        ReceivedPart received;
        std::string headers = part.substr(0, blank);
        received.data = blank == std::string::npos ? "" : part.substr(blank + 4);
        while (!headers.empty()) {
            const size_t eol = headers.find("\r\n");
            const std::string line = headers.substr(0, eol);
            headers = eol == std::string::npos ? "" : headers.substr(eol + 2);
            const size_t colon = line.find(':');
            const std::string name = line.substr(0, colon);
            const std::string value = colon == std::string::npos ? "" : trimmed(line.substr(colon + 1));
            if (name == "Content-Disposition") received.disposition = value;
            if (name == "Content-Type") received.contentType = value;
        }
        parts.push_back(std::move(received));
        start = end + 2;
    }
    return parts;
}

plat::social::Account testAccount(int n) {
    const std::string i = std::to_string(n);
    return {"player" + i, {"consumer-" + i, "cons&secret/" + i, "token-" + i, "tok en+secret " + i}};
}

std::string accountsPlist(const std::vector<plat::social::Account>& accounts, const std::string& entries) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries;
    text += "<key>twitter</key><array>";
    for (const auto& a : accounts) {
        text += "<dict><key>username</key><string>" + xmlEscaped(a.username) +
                "</string><key>consumerKey</key><string>" + xmlEscaped(a.credentials.consumerKey) +
                "</string><key>consumerSecret</key><string>" + xmlEscaped(a.credentials.consumerSecret) +
                "</string><key>token</key><string>" + xmlEscaped(a.credentials.token) +
                "</string><key>tokenSecret</key><string>" + xmlEscaped(a.credentials.tokenSecret) + "</string></dict>";
    }
    return text + "</array></dict></plist>\n";
}

}  // namespace dktest
