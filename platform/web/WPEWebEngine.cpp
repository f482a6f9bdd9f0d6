#include "platform/web/WPEWebEngine.h"

#include <cairo.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-server.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/webkit.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoading.h"
#include "platform/ui/Application.h"

namespace plat::web {

namespace {

// GLib's default main context, turned by the main run loop: WebKit's own sources (its IPC with
// the web and network processes, its timers) run there.
class GLibPollContext : public foundation::PollContext {
public:
    GLibPollContext() { g_main_context_acquire(m_context); }

    double prepare(std::vector<pollfd>& fds) override {
        const gboolean ready = g_main_context_prepare(m_context, &m_priority);
        gint timeout = -1;
        if (m_fds.size() < 8) m_fds.resize(8);
        gint n;
        while ((n = g_main_context_query(m_context, m_priority, &timeout, m_fds.data(),
                                         static_cast<gint>(m_fds.size()))) > static_cast<gint>(m_fds.size()))
            m_fds.resize(static_cast<std::size_t>(n));
        m_count = static_cast<std::size_t>(n);
        m_base = fds.size();
        for (std::size_t i = 0; i < m_count; ++i)
            fds.push_back({m_fds[i].fd, static_cast<short>(m_fds[i].events), 0});
        if (ready) return 0;
        return timeout < 0 ? -1.0 : timeout / 1000.0;
    }

    bool dispatch(const std::vector<pollfd>& fds) override {
        for (std::size_t i = 0; i < m_count; ++i)
            m_fds[i].revents = m_base + i < fds.size() ? static_cast<gushort>(fds[m_base + i].revents) : 0;
        if (!g_main_context_check(m_context, m_priority, m_fds.data(), static_cast<gint>(m_count))) return false;
        g_main_context_dispatch(m_context);
        return true;
    }

private:
    GMainContext* m_context = g_main_context_default();
    std::vector<GPollFD> m_fds;
    std::size_t m_count = 0, m_base = 0;
    gint m_priority = 0;
};

// A page that answers no script for this long (from the script's sending) no longer answers: its
// web process is ended.
constexpr double kAnswerLimit = 3.0;
// A load of ours that the page's process has not started within this long has that process asked.
constexpr double kStartLimit = 1.0;
// Each web process's memory: past it WebKit ends the process (checked every second), the page's
// view failing. An ad or a content unit has no need of more.
constexpr guint kWebProcessMemoryLimitMB = 1024;
// How often our own watch reads the web processes' resident size: a page allocating at its fastest
// (about 700 MB a second) gains well under a quarter of the limit between two readings.
constexpr auto kMemoryWatchInterval = std::chrono::milliseconds(100);
// A web process WebKit reports crashed this soon after the watch ended one went past the limit.
constexpr gint64 kMemoryEndWindowUs = 5'000'000;

// The views sharing one web process (made related to one another), and the question put to it: a
// script sent when one of its views was dismissed or stopped while loading, when a synchronous
// evaluation found no answer, before a view's first load joins the pages already there, or when a
// load has not started within kStartLimit. Until the answer, no view joins the group and loads into
// it wait. Without one within kAnswerLimit, a question of a page dismissed, stopped or unanswered
// ends the process and the waiting loads go to a fresh one; a load's question leaves the process
// silent instead.
struct ProcessGroup {
    WebKitWebView* asked = nullptr;  // holds a reference while the question is open
    gint64 askedAt = 0;
    guint limitSource = 0;
    // A synchronous evaluation found no answer: later ones do not wait.
    bool unanswered = false;
    // No answer to this question ends the process.
    bool endsProcess = false;
    // The process answered nothing, but a page of it is shown (frozen, it is still the user's to
    // close): no view joins it, our loads into its views go to fresh processes, and it is ended
    // once none of its views is shown.
    bool silent = false;
    // The process is being ended: the waiting loads go once WebKit has said it ended.
    bool ending = false;
    gulong endedHandler = 0;
    unsigned question = 0;
    std::vector<std::function<void()>> waiting;
    bool asking() const { return asked != nullptr; }
};

// What the views of the process share: the backend, one web context (one web process for views
// made related to a live one) and GLib's turn on the main loop.
struct Process {
    GLibPollContext glib;
    WebKitWebContext* context = nullptr;
    // Contexts of views with a cookie policy of their own, one per policy: their cookies in
    // memory, apart from the shared context's.
    std::map<int, WebKitWebContext*> ownContexts;
    std::vector<WPEWebEngine::Impl*> views;
    bool ready = false;
};

WebKitWebContext* newContext(WebKitWebsiteDataManager* data) {
    WebKitMemoryPressureSettings* memory = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(memory, kWebProcessMemoryLimitMB);
    webkit_memory_pressure_settings_set_kill_threshold(memory, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(memory, 1.0);
    auto* context = WEBKIT_WEB_CONTEXT(
        g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data, "memory-pressure-settings", memory, nullptr));
    webkit_memory_pressure_settings_free(memory);
    return context;
}

std::string procText(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// The processes WebKit started for us: our children that are WPE programs (the pages' WPEWebProcess,
// the network's), each with whether it holds pages. Each thread lists its own children.
std::vector<std::pair<pid_t, bool>> engineChildren() {
    std::vector<std::pair<pid_t, bool>> found;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return found;
    while (const dirent* task = ::readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        const std::string list = procText(std::string("/proc/self/task/") + task->d_name + "/children");
        for (const char* at = list.c_str(); *at;) {
            char* end;
            const long pid = std::strtol(at, &end, 10);
            if (end == at) break;
            at = end;
            const std::string name = procText("/proc/" + std::to_string(pid) + "/comm");
            if (name.starts_with("WPE")) found.emplace_back(static_cast<pid_t>(pid), name == "WPEWebProcess\n");
        }
    }
    ::closedir(tasks);
    return found;
}

// A field of /proc/PID/status in kB ("VmHWM"), -1 when unread.
long statusKB(pid_t pid, const char* field) {
    const std::string text = procText("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = text.find(std::string("\n") + field + ":");
    return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + std::strlen(field) + 2, nullptr, 10);
}

std::atomic<gint64> g_memoryEndedAt{0};
// The WebKit processes last seen, for a fatal signal's handler, which can read no /proc (0: none).
std::atomic<pid_t> g_enginePids[64];

// WebKit's memory check runs on the web process's main thread, which a page's synchronous loop
// holds, so a page could allocate past it for as long as the loop runs. This watch, on a thread of
// ours, cannot be held so: a page process resident past the limit is stopped (its peak read whole)
// and ended; WebKit then reports it crashed, which its views take as the memory limit.
[[noreturn]] void watchMemory() {
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const long long limit = static_cast<long long>(kWebProcessMemoryLimitMB) << 20;
    for (;;) {
        const std::vector<std::pair<pid_t, bool>> children = engineChildren();
        for (std::size_t i = 0; i < std::size(g_enginePids); ++i)
            g_enginePids[i].store(i < children.size() ? children[i].first : 0);
        for (const auto& [pid, pages] : children) {
            if (!pages) continue;
            const std::string statm = procText("/proc/" + std::to_string(pid) + "/statm");
            const char* resident = std::strchr(statm.c_str(), ' ');
            if (!resident || std::strtoll(resident, nullptr, 10) * pageSize <= limit) continue;
            ::kill(pid, SIGSTOP);
            const long peak = statusKB(pid, "VmHWM");
            g_memoryEndedAt.store(g_get_monotonic_time());
            ::kill(pid, SIGKILL);
            foundation::log("web: a web process went past %u MB (its peak %ld MB): it is ended", kWebProcessMemoryLimitMB,
                            peak / 1024);
        }
        std::this_thread::sleep_for(kMemoryWatchInterval);
    }
}

// However the program ends (quit, a signal, its run's end, the window closed), no page process
// outlives it: a page in a loop that never yields would never read that we have gone.
void endEngineProcesses() {
    for (const auto& [pid, pages] : engineChildren()) ::kill(pid, SIGKILL);
}

// A quit signal left to its default action ends the program without its exit hooks (a tool's; the
// player reads its own): the WebKit processes last seen go first. Async-signal-safe.
void endEngineProcessesAndDie(int signal) {
    for (const std::atomic<pid_t>& pid : g_enginePids)
        if (const pid_t p = pid.load()) ::kill(p, SIGKILL);
    ::raise(signal);  // the default action now, once this handler returns
}

void endEngineProcessesOnQuitSignals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now {};
        if (::sigaction(signal, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) continue;
        struct sigaction hook {};
        hook.sa_handler = endEngineProcessesAndDie;
        hook.sa_flags = SA_RESETHAND;
        sigemptyset(&hook.sa_mask);
        ::sigaction(signal, &hook, nullptr);
    }
}

Process& process() {
    static Process* shared = [] {
        auto* p = new Process;  // lives as long as the process: WebKit cannot be torn down
        // Shared memory frames: no X, no GPU, no /dev/dri (the EGL export crashes on Mesa's
        // surfaceless display).
        p->ready = wpe_loader_init("libWPEBackend-fdo-1.0.so.1") && wpe_fdo_initialize_shm();
        if (!p->ready) foundation::log("web: the WPE backend could not start");
        WebKitWebsiteDataManager* data = nullptr;
        if (const foundation::Container* container = foundation::Container::main()) {
            const std::string root = container->path();
            data = webkit_website_data_manager_new("base-data-directory", (root + "/Library/WebKit").c_str(),
                                                   "base-cache-directory", (root + "/Library/Caches/WebKit").c_str(),
                                                   nullptr);
        } else {
            data = webkit_website_data_manager_new_ephemeral();
        }
        p->context = newContext(data);
        g_object_unref(data);
        webkit_web_context_set_cache_model(p->context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        foundation::RunLoop::main().setPollContext(&p->glib);
        std::atexit(endEngineProcesses);
        endEngineProcessesOnQuitSignals();
        std::thread(watchMemory).detach();
        return p;
    }();
    return *shared;
}

WebKitCookieAcceptPolicy cookiePolicy(ui::WebCookieAcceptPolicy policy) {
    switch (policy) {
    case ui::WebCookieAcceptPolicy::Always: return WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS;
    case ui::WebCookieAcceptPolicy::Never: return WEBKIT_COOKIE_POLICY_ACCEPT_NEVER;
    default: return WEBKIT_COOKIE_POLICY_ACCEPT_NO_THIRD_PARTY;
    }
}

WebKitWebContext* ownContext(Process& p, ui::WebCookieAcceptPolicy policy) {
    WebKitWebContext*& context = p.ownContexts[static_cast<int>(policy)];
    if (!context) {
        WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
        context = newContext(data);
        g_object_unref(data);
        webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        webkit_cookie_manager_set_accept_policy(webkit_web_context_get_cookie_manager(context), cookiePolicy(policy));
    }
    return context;
}

bool loadableScheme(const std::string& url) {
    const std::string scheme = url.substr(0, url.find(':'));
    static const char* const kSchemes[] = {"http", "https", "file", "about", "data", "blob", "javascript"};
    for (const char* s : kSchemes)
        if (g_ascii_strcasecmp(scheme.c_str(), s) == 0) return true;
    return false;
}

// Strings as they are, numbers and booleans as JavaScript prints them, "" for anything else.
std::string resultText(WebKitWebView* view, GAsyncResult* result) {
    GError* error = nullptr;
    WebKitJavascriptResult* js = webkit_web_view_run_javascript_finish(view, result, &error);
    if (!js) {
        g_clear_error(&error);
        return "";
    }
    std::string text;
    JSCValue* value = webkit_javascript_result_get_js_value(js);
    if (jsc_value_is_string(value) || jsc_value_is_number(value) || jsc_value_is_boolean(value)) {
        char* s = jsc_value_to_string(value);
        if (s) text = s;
        g_free(s);
    }
    webkit_javascript_result_unref(js);
    return text;
}

struct Evaluation {
    bool done = false;
    std::string result;
    std::function<void(std::string)> then;
};

void evaluationDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::shared_ptr<Evaluation>> holder(static_cast<std::shared_ptr<Evaluation>*>(data));
    Evaluation& e = **holder;
    e.result = resultText(WEBKIT_WEB_VIEW(source), result);
    e.done = true;
    if (e.then) e.then(std::move(e.result));
}

struct Question {
    std::shared_ptr<ProcessGroup> group;
    unsigned serial;
};

// The question is closed, answered or not: the loads that waited go ahead (to a fresh process when
// the old one was ended), and a dismissed view held for it goes.
void closeQuestion(ProcessGroup& group) {
    if (group.limitSource) g_source_remove(group.limitSource);
    group.limitSource = 0;
    ++group.question;
    group.unanswered = false;
    group.endsProcess = false;
    group.ending = false;
    WebKitWebView* asked = std::exchange(group.asked, nullptr);
    if (group.endedHandler) g_signal_handler_disconnect(asked, std::exchange(group.endedHandler, 0));
    for (auto& load : std::exchange(group.waiting, {})) load();
    if (asked) g_object_unref(asked);
}

void questionAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Question> q(static_cast<Question*>(data));
    GError* error = nullptr;
    if (WebKitJavascriptResult* js = webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error))
        webkit_javascript_result_unref(js);
    g_clear_error(&error);
    if (q->serial == q->group->question && !q->group->ending) closeQuestion(*q->group);
}

void deleteQuestion(gpointer data, GClosure* = nullptr) {
    delete static_cast<Question*>(data);
}

gboolean closeAfterEnd(gpointer data) {
    const Question& q = *static_cast<Question*>(data);
    if (q.serial == q.group->question) closeQuestion(*q.group);
    return G_SOURCE_REMOVE;
}

// WebKit tells every view of the process in one go: the loads that waited go after that, each
// view then knowing its process has gone.
void processEnded(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
    const Question& q = *static_cast<Question*>(data);
    if (q.serial != q.group->question) return;
    g_idle_add_full(G_PRIORITY_DEFAULT, closeAfterEnd, new Question(q), [](gpointer d) { deleteQuestion(d); });
}

void keepSilent(const std::shared_ptr<ProcessGroup>& group);
void endIfUnseen(const std::shared_ptr<ProcessGroup>& group, WebKitWebView* via);

gboolean questionTimedOut(gpointer data) {
    const Question& q = *static_cast<Question*>(data);
    ProcessGroup& group = *q.group;
    if (q.serial != group.question || group.ending) return G_SOURCE_REMOVE;
    if (!group.endsProcess) {
        group.limitSource = 0;  // this source, removed by its return
        keepSilent(q.group);
        return G_SOURCE_REMOVE;
    }
    foundation::log("web: a page answered nothing for %g s: its web process is ended", kAnswerLimit);
    group.ending = true;
    group.endedHandler = g_signal_connect_data(group.asked, "web-process-terminated", G_CALLBACK(processEnded),
                                               new Question(q), deleteQuestion, GConnectFlags(0));
    // Every view of the process loses its page (and hears of it); the process's core and memory
    // come back. Should WebKit not tell (a process already gone), the loads go after as long again.
    webkit_web_view_terminate_web_process(group.asked);
    group.limitSource = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(kAnswerLimit * 1000), closeAfterEnd,
                                           new Question(q), [](gpointer d) { deleteQuestion(d); });
    return G_SOURCE_REMOVE;
}

// Asks `view`'s process a script unless a question is open already; `since` is when the page was
// sent what it has not answered (the limit runs from there). A process already silent is not asked
// again: it is ended if none of its views is shown.
void ask(const std::shared_ptr<ProcessGroup>& group, WebKitWebView* view, gint64 since, bool endsProcess = true) {
    if (group->silent) return endIfUnseen(group, view);
    group->endsProcess = group->endsProcess || endsProcess;
    if (group->asking()) return;
    group->asked = WEBKIT_WEB_VIEW(g_object_ref(view));
    group->askedAt = since;
    const unsigned serial = ++group->question;
    webkit_web_view_run_javascript(view, "0", nullptr, questionAnswered, new Question{group, serial});
    const gint64 left = std::max<gint64>(0, since + static_cast<gint64>(kAnswerLimit * 1e6) - g_get_monotonic_time());
    group->limitSource = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(left / 1000 + 1), questionTimedOut,
                                            new Question{group, serial}, [](gpointer d) { deleteQuestion(d); });
}

}  // namespace

// Where a view's frames go: its engine, or nowhere once the engine is gone and the view is kept a
// while longer (a dismissed page being asked whether it answers).
struct FrameSink {
    WPEWebEngine::Impl* impl;
    wpe_view_backend_exportable_fdo* exportable = nullptr;
};

struct WPEWebEngine::Impl {
    WPEWebEngine& engine;
    ui::WebEngineHost& host;
    wpe_view_backend_exportable_fdo* exportable = nullptr;
    FrameSink* sink = nullptr;  // owned by the view's backend
    wpe_view_backend* backend = nullptr;
    WebKitWebView* view = nullptr;
    WebKitWebContext* context = nullptr;
    WebKitUserContentManager* content = nullptr;
    std::shared_ptr<ProcessGroup> group;
    // A load of ours waits for the group's question to be closed: work in flight meanwhile, so a
    // virtual clock does not jump past the wait to the load's time-out.
    bool loadWaiting = false;
    unsigned loadSerial = 0;
    std::optional<foundation::WorkInFlight> waitWork;
    cairo_surface_t* frame = nullptr;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    // Our own fetched document is on its way in: its navigation is allowed already and its start
    // was reported when the fetch began.
    bool ownNavigation = false;
    bool ownStart = false;
    // The main frame's load under way failed or was cut short: its finish is no finish.
    bool failed = false;
    bool hasPage = false;
    // The backend's device scale factor: pointer events are given in its pixels.
    double scale = 1;
    // What a view made anew in a fresh process is given again.
    uint32_t width = 0, height = 0;
    std::optional<WebKitColor> background;
    ui::WebEngine::EvaluationCounts evaluations;
    // A load of ours went in: the next is no longer the view's first.
    bool handed = false;
    // The load handed to the process and not started there yet (gone again into a fresh process
    // should this one be found silent), when it was handed, and the wait for its start.
    std::function<void(WebKitWebView*)> unstarted;
    bool handedAgain = false;
    gint64 handedAt = 0;
    guint startSource = 0;

    Impl(WPEWebEngine& e, ui::WebEngineHost& h) : engine(e), host(h) {}

    // The web view, in `related`'s process or (null) in one of its own, sharing `settings` (null:
    // its own).
    void makeView(WebKitWebView* related, WebKitSettings* settings) {
        static const wpe_view_backend_exportable_fdo_client client = {nullptr, nullptr, &Impl::exportShm, nullptr,
                                                                      nullptr};
        sink = new FrameSink{this};
        exportable = wpe_view_backend_exportable_fdo_create(&client, sink, 1, 1);
        sink->exportable = exportable;
        backend = wpe_view_backend_exportable_fdo_get_view_backend(exportable);
        WebKitWebViewBackend* viewBackend = webkit_web_view_backend_new(
            backend,
            [](gpointer data) {
                auto* s = static_cast<FrameSink*>(data);
                wpe_view_backend_exportable_fdo_destroy(s->exportable);
                delete s;
            },
            sink);
        if (related) {
            view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend, "related-view", related,
                                                "settings", settings, "user-content-manager", content, nullptr));
        } else {
            view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend, "web-context", context,
                                                "is-ephemeral", webkit_web_context_is_ephemeral(context),
                                                "user-content-manager", content, nullptr));
            if (settings) webkit_web_view_set_settings(view, settings);
        }
        wpe_view_backend_add_activity_state(backend, wpe_view_activity_state_visible | wpe_view_activity_state_focused |
                                                         wpe_view_activity_state_in_window);
        g_signal_connect(view, "decide-policy", G_CALLBACK(&Impl::decidePolicy), this);
        g_signal_connect(view, "load-changed", G_CALLBACK(&Impl::loadChanged), this);
        g_signal_connect(view, "load-failed", G_CALLBACK(&Impl::loadFailed), this);
        g_signal_connect(view, "web-process-terminated", G_CALLBACK(&Impl::processTerminated), this);
        g_signal_connect(view, "script-dialog", G_CALLBACK(&Impl::scriptDialog), this);
        g_signal_connect(view, "create", G_CALLBACK(&Impl::createView), this);
    }

    // The view is made anew in a process of its own, its old process being silent: its page there
    // is left behind.
    void moveToFreshProcess() {
        WebKitWebView* old = view;
        const std::shared_ptr<ProcessGroup> left = group;
        g_signal_handlers_disconnect_by_data(old, this);
        sink->impl = nullptr;
        group = std::make_shared<ProcessGroup>();
        makeView(nullptr, webkit_web_view_get_settings(old));
        hasPage = false;
        if (width) {
            wpe_view_backend_dispatch_set_device_scale_factor(backend, static_cast<float>(scale));
            wpe_view_backend_dispatch_set_size(backend, width, height);
        }
        if (background) webkit_web_view_set_background_color(view, &*background);
        endIfUnseen(left, old);
        g_object_unref(old);
    }

    // Our loads go to the process at once, or once its open question is closed: a page behind
    // one that does not answer would wait with it. A view's first load into a process holding
    // other pages asks it first.
    void hand(std::function<void(WebKitWebView*)> load) {
        const unsigned serial = ++loadSerial;
        if (!handed && !group->silent && sharesProcess()) ask(group, view, g_get_monotonic_time(), false);
        handed = true;
        if (!group->asking()) {
            dropWaitingLoad();
            return go(std::move(load));
        }
        loadWaiting = true;
        waitWork = foundation::Clock::process().beginWork();
        group->waiting.push_back([this, alive = alive, serial, load = std::move(load)]() mutable {
            if (!*alive || serial != loadSerial) return;
            dropWaitingLoad();
            go(std::move(load));
        });
    }

    // Into a fresh process when this one is silent; watched until it starts. `again`: a load whose
    // process ended before it started, handed once more.
    void go(std::function<void(WebKitWebView*)> load, bool again = false) {
        if (group->silent) moveToFreshProcess();
        forgetUnstarted();
        handedAgain = again;
        unstarted = load;
        handedAt = g_get_monotonic_time();
        startSource = g_timeout_add(static_cast<guint>(kStartLimit * 1000), startLimitPassed, this);
        load(view);
    }

    void forgetUnstarted() {
        unstarted = nullptr;
        if (startSource) g_source_remove(std::exchange(startSource, 0));
    }

    // Removed with the view's engine.
    static gboolean startLimitPassed(gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->startSource = 0;
        if (self->unstarted) ask(self->group, self->view, self->handedAt, false);
        return G_SOURCE_REMOVE;
    }

    // The process holds a page of another view.
    bool sharesProcess() const {
        for (const Impl* v : members(group))
            if (v != this && v->hasPage) return true;
        return false;
    }

    static std::vector<Impl*> members(const std::shared_ptr<ProcessGroup>& group);

    void dropWaitingLoad() {
        ++loadSerial;
        loadWaiting = false;
        waitWork.reset();
    }

    static void exportShm(void* data, wpe_fdo_shm_exported_buffer* buffer) {
        auto* sink = static_cast<FrameSink*>(data);
        Impl* self = sink->impl;
        wl_shm_buffer* shm = wpe_fdo_shm_exported_buffer_get_shm_buffer(buffer);
        if (shm && self) self->takeFrame(shm);
        wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(sink->exportable, buffer);
        wpe_view_backend_exportable_fdo_dispatch_frame_complete(sink->exportable);
        if (self) self->host.engineDidDraw();
    }

    void takeFrame(wl_shm_buffer* shm) {
        const int width = wl_shm_buffer_get_width(shm), height = wl_shm_buffer_get_height(shm);
        const int stride = wl_shm_buffer_get_stride(shm);
        const cairo_format_t format =
            wl_shm_buffer_get_format(shm) == WL_SHM_FORMAT_XRGB8888 ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
        if (!frame || cairo_image_surface_get_width(frame) != width ||
            cairo_image_surface_get_height(frame) != height || cairo_image_surface_get_format(frame) != format) {
            if (frame) cairo_surface_destroy(frame);
            frame = cairo_image_surface_create(format, width, height);
        }
        cairo_surface_flush(frame);
        unsigned char* to = cairo_image_surface_get_data(frame);
        const int toStride = cairo_image_surface_get_stride(frame);
        wl_shm_buffer_begin_access(shm);
        const auto* from = static_cast<const unsigned char*>(wl_shm_buffer_get_data(shm));
        for (int y = 0; y < height; ++y)
            std::memcpy(to + static_cast<std::ptrdiff_t>(y) * toStride, from + static_cast<std::ptrdiff_t>(y) * stride,
                        static_cast<std::size_t>(std::min(stride, toStride)));
        wl_shm_buffer_end_access(shm);
        cairo_surface_mark_dirty(frame);
    }

    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->forgetUnstarted();  // the process answers
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        const std::string url = uri ? uri : "";
        auto navigationType = static_cast<ui::WebNavigationType>(webkit_navigation_action_get_navigation_type(action));
        // WebKit calls a script's click on a link a link click too; a view's "link clicked" is the
        // user's tap alone.
        if (navigationType == ui::WebNavigationType::LinkClicked && !webkit_navigation_action_is_user_gesture(action))
            navigationType = ui::WebNavigationType::Other;
        if (self->ownNavigation && navigationType == ui::WebNavigationType::Other) {
            self->ownNavigation = false;
            webkit_policy_decision_use(decision);
            return TRUE;
        }
        g_object_ref(decision);
        self->host.engineDecide({url}, navigationType, [decision, url, alive = self->alive](bool allowed) {
            if (allowed && *alive && !loadableScheme(url)) {
                webkit_policy_decision_ignore(decision);
                if (ui::Application* app = ui::Application::shared()) app->openURL(url);
            } else if (allowed && *alive) {
                webkit_policy_decision_use(decision);
            } else {
                webkit_policy_decision_ignore(decision);
            }
            g_object_unref(decision);
        });
        return TRUE;
    }

    static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (event == WEBKIT_LOAD_STARTED) {
            self->forgetUnstarted();
            self->failed = false;
            self->hasPage = true;
            if (self->ownStart)
                self->ownStart = false;
            else
                self->host.engineDidStart();
        } else if (event == WEBKIT_LOAD_FINISHED) {
            if (!self->failed) self->host.engineDidFinish();
            self->failed = true;  // one finish per load
        }
    }

    static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->failed = true;
        // A cut-short load's news may come after our next document was handed over: that one's
        // start is still to be kept quiet.
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
            g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
            return TRUE;
        self->ownStart = false;
        foundation::Error failure{g_quark_to_string(error->domain), error->code, error->message ? error->message : "", {}};
        if (uri)
            failure.userInfo = foundation::Value::Dictionary{{net::kURLErrorFailingURLStringErrorKey, std::string(uri)}};
        self->host.engineDidFail(failure);
        return TRUE;
    }

    // A page gone with its process fails its view, whether it had loaded or not, unless the view's
    // next load is already waiting or was never started (it goes to a fresh process). A view
    // relaunches its process alone: it no longer shares its old group's.
    static void processTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        const bool hadPage = std::exchange(self->hasPage, false);
        self->group = std::make_shared<ProcessGroup>();
        if (self->loadWaiting) return;
        std::function<void(WebKitWebView*)> load = self->unstarted;
        self->forgetUnstarted();
        if (load && !self->handedAgain) {
            // Once, after WebKit has told every view of the process.
            struct Again {
                std::shared_ptr<bool> alive;
                Impl* impl;
                std::function<void(WebKitWebView*)> load;
                unsigned serial;
            };
            g_idle_add_full(
                G_PRIORITY_DEFAULT,
                [](gpointer d) {
                    Again& a = *static_cast<Again*>(d);
                    if (*a.alive && a.serial == a.impl->loadSerial) a.impl->go(std::move(a.load), true);
                    return G_SOURCE_REMOVE;
                },
                new Again{self->alive, self, std::move(load), self->loadSerial},
                [](gpointer d) { delete static_cast<Again*>(d); });
            return;
        }
        if (!hadPage && !load) return;
        self->failed = true;
        const gint64 memoryEnded = g_memoryEndedAt.load();
        if (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ||
            (reason == WEBKIT_WEB_PROCESS_CRASHED && memoryEnded &&
             g_get_monotonic_time() - memoryEnded < kMemoryEndWindowUs))
            self->host.engineDidFail({"plat.web", 2, "The page went past its memory limit", {}});
        else if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API)
            self->host.engineDidFail({"plat.web", 3, "The page stopped answering", {}});
        else
            self->host.engineDidFail({"plat.web", 1, "The page's process ended", {}});
    }

    // Dialogs are answered at once; new windows are refused.
    static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer) { return TRUE; }
    static WebKitWebView* createView(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }
};

std::vector<WPEWebEngine::Impl*> WPEWebEngine::Impl::members(const std::shared_ptr<ProcessGroup>& group) {
    std::vector<Impl*> found;
    for (Impl* v : process().views)
        if (v->group == group) found.push_back(v);
    return found;
}

namespace {

// A load's question went unanswered: the loads into the process go to fresh ones (those waiting,
// and those handed and never started), and the process lives on while a view of it is shown.
void keepSilent(const std::shared_ptr<ProcessGroup>& group) {
    foundation::log("web: a page answered nothing for %g s: the next pages load in a fresh web process", kAnswerLimit);
    group->silent = true;
    WebKitWebView* asked = WEBKIT_WEB_VIEW(g_object_ref(group->asked));
    std::vector<std::pair<std::shared_ptr<bool>, WPEWebEngine::Impl*>> stranded;
    for (WPEWebEngine::Impl* v : WPEWebEngine::Impl::members(group))
        if (v->unstarted) stranded.emplace_back(v->alive, v);
    closeQuestion(*group);
    for (auto& [alive, v] : stranded)
        if (*alive && v->unstarted) v->go(std::exchange(v->unstarted, nullptr));
    endIfUnseen(group, asked);
    g_object_unref(asked);
}

// A silent process none of whose views is shown is ended (through `via`, any view of it): its
// pages fail their views, which are shown nowhere.
void endIfUnseen(const std::shared_ptr<ProcessGroup>& group, WebKitWebView* via) {
    if (!group->silent || group->ending) return;
    for (const WPEWebEngine::Impl* v : WPEWebEngine::Impl::members(group))
        if (v->host.engineShown()) return;
    foundation::log("web: a web process that answered nothing shows no page now: it is ended");
    group->ending = true;
    webkit_web_view_terminate_web_process(via);
}

}  // namespace

WPEWebEngine::WPEWebEngine(ui::WebEngineHost& host) : PageEngine(host), m_impl(std::make_unique<Impl>(*this, host)) {
    Process& p = process();
    const std::optional<ui::WebCookieAcceptPolicy> policy = host.engineCookiePolicy();
    m_impl->context = policy ? ownContext(p, *policy) : p.context;
    // Views of one context share their web process and their settings; each has user scripts of its
    // own (a related view would otherwise share its relative's). A process with a question open, or
    // silent, is joined by no one, nor the process of a view with no page (one whose process ended
    // is relaunched with its next load): the new view starts a process of its own.
    auto sameContext = [&](Impl* v) { return v->context == m_impl->context; };
    auto relative = std::find_if(p.views.begin(), p.views.end(), sameContext);
    auto related = std::find_if(p.views.begin(), p.views.end(), [&](Impl* v) {
        return sameContext(v) && v->hasPage && !v->group->asking() && !v->group->silent;
    });
    m_impl->content = webkit_user_content_manager_new();
    if (related == p.views.end()) {
        m_impl->group = std::make_shared<ProcessGroup>();
        m_impl->makeView(nullptr, relative != p.views.end() ? webkit_web_view_get_settings((*relative)->view) : nullptr);
    } else {
        m_impl->group = (*related)->group;
        m_impl->makeView((*related)->view, webkit_web_view_get_settings((*related)->view));
    }
    p.views.push_back(m_impl.get());
}

WPEWebEngine::~WPEWebEngine() {
    *m_impl->alive = false;
    Process& p = process();
    std::erase(p.views, m_impl.get());
    g_signal_handlers_disconnect_by_data(m_impl->view, m_impl.get());
    m_impl->sink->impl = nullptr;
    m_impl->forgetUnstarted();
    // A dismissed page is asked whether it still answers (the question holds the view): one that
    // does not has its process ended, or it would keep its core and memory, and its relatives'.
    if (m_impl->hasPage || m_impl->group->silent) ask(m_impl->group, m_impl->view, g_get_monotonic_time());
    webkit_web_view_stop_loading(m_impl->view);
    g_object_unref(m_impl->view);  // its backend destroys the exportable and the sink
    g_object_unref(m_impl->content);
    if (m_impl->frame) cairo_surface_destroy(m_impl->frame);
}

void WPEWebEngine::showDocument(const std::string& body, const std::string& mimeType, const std::string& encoding,
                                const std::string& baseURL) {
    m_impl->ownNavigation = true;
    m_impl->ownStart = true;
    std::shared_ptr<GBytes> bytes(g_bytes_new(body.data(), body.size()), g_bytes_unref);
    m_impl->hand([bytes, mimeType, encoding, baseURL](WebKitWebView* view) {
        webkit_web_view_load_bytes(view, bytes.get(), mimeType.c_str(), encoding.empty() ? nullptr : encoding.c_str(),
                                   baseURL.c_str());
    });
}

void WPEWebEngine::loadHTMLString(const std::string& html, const std::string& baseURL) {
    cancelFetch();
    m_impl->ownNavigation = false;
    m_impl->ownStart = false;
    m_impl->hand([html, baseURL](WebKitWebView* view) {
        webkit_web_view_load_html(view, html.c_str(), baseURL.empty() ? nullptr : baseURL.c_str());
    });
}

void WPEWebEngine::stopEngine() {
    m_impl->ownNavigation = false;
    m_impl->ownStart = false;
    m_impl->dropWaitingLoad();
    m_impl->forgetUnstarted();
    if (webkit_web_view_is_loading(m_impl->view)) {
        m_impl->failed = true;
        // A page stopped while loading (a time-out, a close) may be one that never yields.
        ask(m_impl->group, m_impl->view, g_get_monotonic_time());
    }
    webkit_web_view_stop_loading(m_impl->view);
}

bool WPEWebEngine::engineLoading() const {
    return m_impl->loadWaiting || webkit_web_view_is_loading(m_impl->view);
}

std::string WPEWebEngine::engineURL() const {
    const char* uri = webkit_web_view_get_uri(m_impl->view);
    return uri ? uri : "";
}

void WPEWebEngine::reload() {
    webkit_web_view_reload(m_impl->view);
}

void WPEWebEngine::goBack() {
    webkit_web_view_go_back(m_impl->view);
}

void WPEWebEngine::goForward() {
    webkit_web_view_go_forward(m_impl->view);
}

bool WPEWebEngine::canGoBack() const {
    return webkit_web_view_can_go_back(m_impl->view);
}

bool WPEWebEngine::canGoForward() const {
    return webkit_web_view_can_go_forward(m_impl->view);
}

void WPEWebEngine::setMediaPolicy(bool inlineMedia, bool requiresUserAction) {
    WebKitSettings* settings = webkit_web_view_get_settings(m_impl->view);
    webkit_settings_set_media_playback_allows_inline(settings, inlineMedia);
    webkit_settings_set_media_playback_requires_user_gesture(settings, requiresUserAction);
}

void WPEWebEngine::setPageBackground(bool opaque, const std::optional<ui::Color>& color) {
    WebKitColor shown{1, 1, 1, 1};
    if (!opaque)
        shown = {0, 0, 0, 0};
    else if (color)
        shown = {color->r, color->g, color->b, 1};
    m_impl->background = shown;
    webkit_web_view_set_background_color(m_impl->view, &shown);
}

// The page's own scrolling, through the document on screen (nothing before a page is in).
void WPEWebEngine::setScrollEnabled(bool enabled) {
    evaluateAsync(enabled ? "document.documentElement.style.overflow=''" : "document.documentElement.style.overflow='hidden'",
                  [](std::string) {});
}

void WPEWebEngine::setScrollOffset(ui::Point offset) {
    char script[96];
    std::snprintf(script, sizeof script, "window.scrollTo(%g,%g)", offset.x, offset.y);
    evaluateAsync(script, [](std::string) {});
}

// Only a view made with a policy has a context of its own; the shared one is left as it is.
void WPEWebEngine::setCookieAcceptPolicy(ui::WebCookieAcceptPolicy policy) {
    if (m_impl->context == process().context) {
        foundation::log("web: a cookie policy asked for after the view was made is left out");
        return;
    }
    webkit_cookie_manager_set_accept_policy(webkit_web_context_get_cookie_manager(m_impl->context), cookiePolicy(policy));
}

void WPEWebEngine::setDocumentStartScript(const std::string& script) {
    webkit_user_content_manager_remove_all_scripts(m_impl->content);
    if (script.empty()) return;
    WebKitUserScript* user = webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(m_impl->content, user);
    webkit_user_script_unref(user);
}

std::string WPEWebEngine::userAgent() const {
    const gchar* agent = webkit_settings_get_user_agent(webkit_web_view_get_settings(m_impl->view));
    return agent ? agent : "";
}

// The main thread waits on a page once: a page found not answering (or asked a question it has
// left open as long as a wait) is not waited for again until it answers.
std::string WPEWebEngine::evaluate(const std::string& script, double limit) {
    if (!m_impl->hasPage) return "";
    const std::shared_ptr<ProcessGroup> group = m_impl->group;
    const gint64 sent = g_get_monotonic_time();
    if (group->unanswered || group->silent ||
        (group->asking() && sent - group->askedAt >= static_cast<gint64>(limit * 1e6))) {
        ++m_impl->evaluations.notWaited;
        if (group->silent) endIfUnseen(group, m_impl->view);
        return "";
    }
    auto evaluation = std::make_shared<Evaluation>();
    webkit_web_view_run_javascript(m_impl->view, script.c_str(), nullptr, evaluationDone,
                                   new std::shared_ptr<Evaluation>(evaluation));
    // Only the engine turns meanwhile: what it reports is posted, so the caller sees it after.
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(limit * 1e6);
    while (!evaluation->done) {
        const gint64 left = end - g_get_monotonic_time();
        if (left <= 0) break;
        GSource* limitSource = g_timeout_source_new(static_cast<guint>(left / 1000 + 1));
        g_source_set_callback(limitSource, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(limitSource, nullptr);
        g_main_context_iteration(nullptr, TRUE);
        g_source_destroy(limitSource);
        g_source_unref(limitSource);
    }
    if (evaluation->done) return evaluation->result;
    ++m_impl->evaluations.waitedOut;
    // Unless the process ended meanwhile (the view then has a group of its own).
    if (m_impl->group == group) {
        group->unanswered = true;
        ask(group, m_impl->view, sent);
    }
    return "";
}

ui::WebEngine::EvaluationCounts WPEWebEngine::evaluationCounts() const {
    return m_impl->evaluations;
}

void WPEWebEngine::evaluateAsync(const std::string& script, std::function<void(std::string)> done) {
    if (!m_impl->hasPage) {
        foundation::RunLoop::main().perform([done = std::move(done)] { done(""); });
        return;
    }
    auto evaluation = std::make_shared<Evaluation>();
    evaluation->then = std::move(done);
    webkit_web_view_run_javascript(m_impl->view, script.c_str(), nullptr, evaluationDone,
                                   new std::shared_ptr<Evaluation>(evaluation));
}

void WPEWebEngine::setViewport(double width, double height, double scale) {
    const auto w = static_cast<uint32_t>(std::max(1.0, width)), h = static_cast<uint32_t>(std::max(1.0, height));
    m_impl->scale = scale > 0 ? scale : 1;
    m_impl->width = w;
    m_impl->height = h;
    wpe_view_backend_dispatch_set_device_scale_factor(m_impl->backend, static_cast<float>(scale));
    wpe_view_backend_dispatch_set_size(m_impl->backend, w, h);
}

cairo_surface_t* WPEWebEngine::frame() const {
    return m_impl->frame;
}

void WPEWebEngine::pointer(ui::Point location, ui::TouchPhase phase) {
    wpe_input_pointer_event event{};
    event.time = static_cast<uint32_t>(g_get_monotonic_time() / 1000);
    // WebKit divides by the scale factor to reach the page's CSS pixels, which are our points.
    event.x = static_cast<int>(std::floor(location.x * m_impl->scale));
    event.y = static_cast<int>(std::floor(location.y * m_impl->scale));
    event.type = wpe_input_pointer_event_type_motion;
    if (phase != ui::TouchPhase::Began) event.modifiers = wpe_input_pointer_modifier_button1;
    wpe_view_backend_dispatch_pointer_event(m_impl->backend, &event);
    if (phase == ui::TouchPhase::Moved || phase == ui::TouchPhase::Stationary) return;
    event.type = wpe_input_pointer_event_type_button;
    event.button = 1;
    event.state = phase == ui::TouchPhase::Began ? 1 : 0;
    event.modifiers = phase == ui::TouchPhase::Began ? wpe_input_pointer_modifier_button1 : 0;
    wpe_view_backend_dispatch_pointer_event(m_impl->backend, &event);
}

}  // namespace plat::web

// Ends the page engine's processes where no exit handler will run (the program ending at once).
extern "C" __attribute__((visibility("default"))) void dkEndWPEProcesses() { plat::web::endEngineProcesses(); }

// The module's entry point, looked up by name when the page engine is chosen.
extern "C" __attribute__((visibility("default"))) plat::ui::WebEngine* dkMakeWPEWebEngine(
    plat::ui::WebEngineHost& host) {
    return new plat::web::WPEWebEngine(host);
}
