#include "platform/foundation/Log.h"

#include <errno.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/foundation/Clock.h"

namespace plat::foundation {

namespace {

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

void writeWhole(FILE* stream, std::string_view line) {
    // The stream's own lock keeps lines of different threads apart.
    flockfile(stream);
    fwrite(line.data(), 1, line.size(), stream);
    fflush(stream);
    funlockfile(stream);
}

struct TraceConfig {
    std::mutex mutex;
    bool all = false;
    std::set<std::string, std::less<>> names;
    std::vector<TraceCategory*> categories;
    FILE* stream = stderr;
    bool ownsStream = false;

    bool wants(std::string_view name) const { return all || names.find(name) != names.end(); }
};

// What Trace::configure says: the categories on and the stream, null arguments from the environment.
bool apply(TraceConfig& c, const char* categories, const char* file) {
    if (!categories) categories = std::getenv("DROVIK_TRACE");
    if (!file) file = std::getenv("DROVIK_TRACE_FILE");
    c.all = false;
    c.names.clear();
    std::string_view list = categories ? categories : "";
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view name = list.substr(0, comma);
        if (name == "all") c.all = true;
        if (!name.empty()) c.names.emplace(name);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    for (TraceCategory* category : c.categories) category->setOn(c.wants(category->name()));

    if (c.ownsStream) fclose(c.stream);
    c.stream = stderr;
    c.ownsStream = false;
    if (!file || !*file) return true;
    if (std::strcmp(file, "-") == 0) {
        c.stream = stdout;
        return true;
    }
    FILE* stream = std::fopen(file, "we");
    if (!stream) {
        std::string message = std::string("cannot open trace file ") + file + ": " + std::strerror(errno);
        logText(message);
        return false;
    }
    c.stream = stream;
    c.ownsStream = true;
    return true;
}

struct LineObserver {
    std::mutex mutex;
    std::shared_ptr<std::function<void(std::string_view)>> call;
};

LineObserver& lineObserver() {
    static auto* observer = new LineObserver;  // never destroyed, as the trace's configuration
    return *observer;
}

// Outside every lock: the observer may log in turn.
void observe(std::string_view line) {
    LineObserver& o = lineObserver();
    std::shared_ptr<std::function<void(std::string_view)>> call;
    {
        std::lock_guard lock(o.mutex);
        call = o.call;
    }
    if (!call) return;
    while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    (*call)(line);
}

TraceConfig& config() {
    // Never destroyed: static categories of other files unregister after it would be. Starts from
    // the environment, so programs that take no trace options still honour it.
    static auto* c = [] {
        auto* made = new TraceConfig;
        apply(*made, nullptr, nullptr);
        return made;
    }();
    return *c;
}

}  // namespace

void log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    logText(text);
}

void logText(std::string_view text) {
    std::string line(text);
    if (line.empty() || line.back() != '\n') line += '\n';
    writeWhole(stderr, line);
    observe(line);
}

void setLineObserver(std::function<void(std::string_view line)> observer) {
    LineObserver& o = lineObserver();
    std::lock_guard lock(o.mutex);
    o.call = observer ? std::make_shared<std::function<void(std::string_view)>>(std::move(observer)) : nullptr;
}

TraceCategory::TraceCategory(const char* name) : m_name(name) {
    TraceConfig& c = config();
    std::lock_guard lock(c.mutex);
    c.categories.push_back(this);
    setOn(c.wants(name));
}

TraceCategory::~TraceCategory() {
    TraceConfig& c = config();
    std::lock_guard lock(c.mutex);
    std::erase(c.categories, this);
}

bool Trace::configure(const char* categories, const char* file) {
    TraceConfig& c = config();
    std::lock_guard lock(c.mutex);
    return apply(c, categories, file);
}

void Trace::write(const TraceCategory& category, std::string_view text) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "t=%.6f ", Clock::process().now());
    std::string line;
    line.reserve(std::strlen(stamp) + std::strlen(category.name()) + text.size() + 2);
    line.append(stamp).append(category.name()).append(1, ' ').append(text).append(1, '\n');
    {
        TraceConfig& c = config();
        std::lock_guard lock(c.mutex);
        writeWhole(c.stream, line);
    }
    observe(std::string_view(line).substr(std::strlen(stamp)));
}

void tracef(const TraceCategory& category, const char* format, ...) {
    if (!category.on()) return;
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    Trace::write(category, text);
}

}  // namespace plat::foundation
