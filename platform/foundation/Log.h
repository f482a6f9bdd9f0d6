// Messages on standard error, and trace lines that outside checks read. log(...) writes one line as
// given, no prefix added. trace(category, text) writes "t=<process clock, 6 decimals> <category>
// <text>" whole and flushed, for the categories Trace::configure enables (--trace CATS, else
// DROVIK_TRACE: a comma list or "all") to its file (--trace-file FILE, else DROVIK_TRACE_FILE; "-" is
// standard output, standard error by default). Categories are static TraceCategory objects: a
// disabled one costs one load and formats nothing.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

namespace plat::foundation {

// One line on standard error, exactly as given (a newline is added when missing), written whole.
void log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logText(std::string_view text);

// A trace category, normally a static object: `static TraceCategory kNet("net");`. Whether it is
// on is one relaxed load, so a disabled trace costs one test and formats nothing.
class TraceCategory {
public:
    explicit TraceCategory(const char* name);
    ~TraceCategory();
    TraceCategory(const TraceCategory&) = delete;
    TraceCategory& operator=(const TraceCategory&) = delete;
    bool on() const { return m_on.load(std::memory_order_relaxed); }
    const char* name() const { return m_name; }
    // Trace::configure sets it for every category.
    void setOn(bool on) { m_on.store(on, std::memory_order_relaxed); }

private:
    const char* m_name;
    std::atomic<bool> m_on{false};
};

// Which categories are on and where their lines go. Lines read
// "t=<the process clock, 6 decimals> <category> <text>", each written whole and flushed.
class Trace {
public:
    // `categories`: a comma list or "all" (null: $DROVIK_TRACE, none when unset). `file`: a path,
    // "-" for standard output (null: $DROVIK_TRACE_FILE; standard error when unset or empty).
    // False, with a message on standard error and tracing to standard error, when the file cannot
    // be opened.
    static bool configure(const char* categories, const char* file);
    static void write(const TraceCategory& category, std::string_view text);
};

inline void trace(const TraceCategory& category, std::string_view text) {
    if (category.on()) Trace::write(category, text);
}

// The text made only when the category is on: trace(kNet, [&] { return describe(request); }).
template <class MakeText, class = std::enable_if_t<std::is_invocable_v<MakeText>>>
inline void trace(const TraceCategory& category, MakeText&& makeText) {
    if (category.on()) Trace::write(category, makeText());
}

void tracef(const TraceCategory& category, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Every line log() writes and every trace line ("<category> <text>", without its time stamp), each
// without its newline, handed to `observer` once written, on the writing thread (null: none). One
// observer at a time: the host's input script waits on it.
void setLineObserver(std::function<void(std::string_view line)> observer);

}  // namespace plat::foundation
