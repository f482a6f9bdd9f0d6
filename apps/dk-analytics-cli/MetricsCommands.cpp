#include "apps/dk-analytics-cli/MetricsCommands.h"

#include <yajl/yajl_parse.h>

#include <cerrno>
#include <cstdlib>

#include "apps/cli-support/CommandLine.h"

namespace dk::tools::analyticscli {

namespace {

// yajl's events for one flat object, in order.
struct Reader {
    TrackwellSession::Attributes attributes;
    std::string key;
    int depth = 0;
    std::string error;

    bool add(TrackwellSession::AttributeValue value) {
        if (depth != 1) return fail("attribute values are strings, numbers or booleans");
        attributes.emplace(key, std::move(value));
        return true;
    }
    bool fail(const char* why) {
        if (error.empty()) error = why;
        return false;
    }
};

Reader& reader(void* context) {
    return *static_cast<Reader*>(context);
}

const yajl_callbacks kCallbacks = {
    [](void* c) { return reader(c).fail("attribute values are strings, numbers or booleans") ? 1 : 0; },
    [](void* c, int flag) { return reader(c).add(flag != 0) ? 1 : 0; },
    nullptr,
    nullptr,
    [](void* c, const char* text, std::size_t length) {
        const std::string number(text, length);
        errno = 0;
        double value = std::strtod(number.c_str(), nullptr);
        return errno == 0 && reader(c).add(value) ? 1 : 0;
    },
    [](void* c, const unsigned char* text, std::size_t length) {
        return reader(c).add(std::string(reinterpret_cast<const char*>(text), length)) ? 1 : 0;
    },
    [](void* c) { return ++reader(c).depth == 1 ? 1 : (reader(c).fail("attributes are one flat object"), 0); },
    [](void* c, const unsigned char* text, std::size_t length) {
        reader(c).key.assign(reinterpret_cast<const char*>(text), length);
        return 1;
    },
    [](void* c) {
        --reader(c).depth;
        return 1;
    },
    [](void* c) { return reader(c).fail("attributes are one flat object") ? 1 : 0; },
    nullptr,
};

// A name on one answer line: control characters as JSON escapes.
std::string shown(const std::string& name) {
    return dk::trackwell::escapeString(name);
}

bool attributesArg(const std::vector<MetricsArg>& args, std::size_t index,
                   std::optional<TrackwellSession::Attributes>& out, std::string& error) {
    if (index >= args.size()) return true;
    const MetricsArg& arg = args[index];
    if (!arg.object) {
        if (!arg.quoted && arg.text == "null") return true;
        error = "attributes are a JSON object or null";
        return false;
    }
    out = orderedAttributes(arg.text, error);
    return out.has_value();
}

}  // namespace

std::optional<TrackwellSession::Attributes> orderedAttributes(std::string_view json, std::string& error) {
    Reader r;
    yajl_handle handle = yajl_alloc(&kCallbacks, nullptr, &r);
    yajl_status status = yajl_parse(handle, reinterpret_cast<const unsigned char*>(json.data()), json.size());
    if (status == yajl_status_ok) status = yajl_complete_parse(handle);
    yajl_free(handle);
    if (status != yajl_status_ok) {
        error = r.error.empty() ? "malformed attributes: " + std::string(json) : r.error;
        return std::nullopt;
    }
    return std::move(r.attributes);
}

void runMetrics(const std::vector<MetricsArg>& args, const std::function<void(const std::string&)>& print) {
    TrackwellSession& session = TrackwellSession::sharedTrackwellSession();
    const std::string sub = args.empty() ? "" : args[0].text;
    const std::size_t count = args.size();
    auto usage = [&](const char* form) { print(std::string("error usage: metrics ") + form); };

    if (sub == "key" || sub == "start") {
        if (count != 2) return usage(sub == "key" ? "key KEY" : "start KEY");
        if (sub == "key")
            session.initialize(args[1].text);
        else
            session.startSession(args[1].text);
        return print("ok");
    }
    if (sub == "open" || sub == "resume" || sub == "close" || sub == "upload") {
        if (count != 1) return usage("open|resume|close|upload");
        if (sub == "open") session.open();
        if (sub == "resume") session.resume();
        if (sub == "close") session.close();
        if (sub == "upload") session.upload();
        return print("ok");
    }
    if (sub == "tag") {
        std::optional<TrackwellSession::Attributes> attributes, report;
        std::string error;
        if (count < 2 || count > 4) return usage("tag NAME [ATTRS] [REPORT_ATTRS]");
        if (!attributesArg(args, 2, attributes, error) || !attributesArg(args, 3, report, error))
            return print("error " + error);
        return print(session.tagEvent(args[1].text, attributes, report) ? "tagged " + shown(args[1].text) : "fail");
    }
    if (sub == "tag-many") {
        long long n;
        if (count != 3 || !dk::tools::parseInt(args[1].text, n) || n < 0) return usage("tag-many N PREFIX");
        for (long long i = 1; i <= n; ++i) {
            const std::string name = args[2].text + "-" + std::to_string(i);
            print((session.tagEvent(name, std::nullopt, std::nullopt) ? "tagged " : "fail ") + shown(name));
        }
        return;
    }
    if (sub == "screen") {
        if (count != 2) return usage("screen NAME");
        session.tagScreen(args[1].text);
        return print("ok");
    }
    if (sub == "optin") {
        if (count != 2 || (args[1].text != "0" && args[1].text != "1")) return usage("optin 0|1");
        session.setOptIn(args[1].text == "1");
        return print("ok");
    }
    if (sub == "dim") {
        long long slot;
        if (count != 3 || args[2].object || !dk::tools::parseInt(args[1].text, slot)) return usage("dim SLOT VALUE|null");
        std::optional<std::string> value;
        if (args[2].quoted || args[2].text != "null") value = args[2].text;
        session.setCustomDimension(static_cast<int>(slot), value);
        return print("ok");
    }
    if (sub == "state") {
        if (count != 1) return usage("state");
        return print(std::string("initialized=") + (session.hasInitialized() ? "1" : "0") +
                     " open=" + (session.isSessionOpen() ? "1" : "0") + " optedin=" + (session.isOptedIn() ? "1" : "0"));
    }
    print("error unknown command: metrics " + sub);
}

}  // namespace dk::tools::analyticscli
