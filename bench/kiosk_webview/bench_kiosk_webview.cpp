// A content unit on WPE WebKit, from show to contentViewDidLoad: with the engine cold (the first
// view of the process) and with a pooled view shown again, and the memory of the process with its
// web and network processes (PSS), beside a minimal WPE program loading the same page (the floor)
// in the same run. Each side runs in a fresh process of its own.
//
//   bench_kiosk_webview [VIEWS]     (default 4 further related views for the per-view memory)
//
// Targets: at most 1.2x the floor's time and 1.1x its memory.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentView.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/RunLoop.h"
#include "platform/web/PageEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Some text, a styled box and a script: what a unit's template holds.
const char* const kPage =
    "<html><head><style>body{margin:0;background:#224}div{color:#fff;font:16px sans-serif;padding:20px}"
    "</style><script>var got=[];function KioskAPICallback(c,r,e){got.push(c);return 'OK';}</script></head>"
    "<body><div>A content unit: offers, news and a button.</div><button>Go</button></body></html>";

long pssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("Pss:")) return std::atol(line.c_str() + 4);
    return 0;
}

pid_t parentOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    const std::size_t end = all.rfind(')');
    if (end == std::string::npos) return 0;  // gone meanwhile
    std::istringstream rest(all.substr(end + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

// This process and every process below it (the web and network processes).
long treePssKiB() {
    std::vector<pid_t> tree{getpid()};
    std::vector<pid_t> all;
    if (DIR* dir = opendir("/proc")) {
        while (dirent* entry = readdir(dir))
            if (pid_t pid = std::atoi(entry->d_name); pid > 0) all.push_back(pid);
        closedir(dir);
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (pid_t pid : all) {
            if (std::find(tree.begin(), tree.end(), pid) != tree.end()) continue;
            if (std::find(tree.begin(), tree.end(), parentOf(pid)) != tree.end()) {
                tree.push_back(pid);
                grew = true;
            }
        }
    }
    long total = 0;
    for (pid_t pid : tree) total += pssKiB(pid);
    return total;
}

struct Figures {
    double cold = 0, warm = 0;
    long pss = 0, perView = 0;
};

void print(const Figures& f) {
    std::printf("%.4f %.4f %ld %ld\n", f.cold, f.warm, f.pss, f.perView);
}

// The content view, as the content request uses it.
struct Loads : KSContentViewDelegate {
    int loaded = 0;
    void contentViewDidLoad(KSContentView&) override { ++loaded; }
    void contentViewDidFail(KSContentView&, const plat::foundation::Error& error) override {
        std::fprintf(stderr, "bench_kiosk_webview: the unit failed: %s %d %s\n", error.domain.c_str(), error.code,
                     error.message.c_str());
        std::_Exit(1);
    }
};

Figures contentView(const std::string& url, int views) {
    Figures f;
    Loads loads;
    auto target = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 480});
    auto unit = KSJsonParser().objectWithString(R"({"url":")" + url +
                                                R"(","transition":"KS_DIALOG","frame":"KS_FULLSCREEN"})");
    auto content = KSContent::contentWithDictionary(*unit->object());
    auto showAndWait = [&](const std::shared_ptr<KSContentView>& view) {
        const int before = loads.loaded;
        view->setContent(content);
        view->setDelegate(&loads);
        view->setTargetView(target.get());
        view->show(false);
        while (loads.loaded == before) plat::foundation::RunLoop::main().runOnce(1);
    };
    kiosk::setLogHook([](std::string_view) {});
    auto start = Clock::now();
    plat::web::useWebEngine("wpe");
    auto first = KSContentView::make(nullptr);
    showAndWait(first);
    f.cold = since(start);
    first->dismiss(false);
    KSContentView::enqueueContentViewInstance(first);
    start = Clock::now();
    auto again = KSContentView::dequeueContentViewInstance();
    showAndWait(again);
    f.warm = since(start);
    f.pss = treePssKiB();
    std::vector<std::shared_ptr<KSContentView>> more;
    for (int i = 0; i < views; ++i) showAndWait(more.emplace_back(KSContentView::make(nullptr)));
    if (views > 0) f.perView = (treePssKiB() - f.pss) / views;
    return f;
}

// The floor: WPE's own calls and nothing else.
struct FloorView {
    wpe_view_backend_exportable_fdo* exportable = nullptr;
    WebKitWebView* view = nullptr;
    bool finished = false;
};

void floorFrame(void* data, wpe_fdo_shm_exported_buffer* buffer) {
    auto* v = static_cast<FloorView*>(data);
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(v->exportable, buffer);
    wpe_view_backend_exportable_fdo_dispatch_frame_complete(v->exportable);
}

void floorLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<FloorView*>(data)->finished = true;
}

FloorView* floorView(WebKitWebContext* context, WebKitWebView* related) {
    static const wpe_view_backend_exportable_fdo_client client = {nullptr, nullptr, &floorFrame, nullptr, nullptr};
    auto* v = new FloorView;  // kept to the end of the process
    v->exportable = wpe_view_backend_exportable_fdo_create(&client, v, 320, 480);
    wpe_view_backend* backend = wpe_view_backend_exportable_fdo_get_view_backend(v->exportable);
    WebKitWebViewBackend* viewBackend = webkit_web_view_backend_new(backend, nullptr, nullptr);
    v->view = related ? webkit_web_view_new_with_related_view(viewBackend, related)
                      : webkit_web_view_new_with_context(viewBackend, context);
    wpe_view_backend_add_activity_state(backend, wpe_view_activity_state_visible | wpe_view_activity_state_focused |
                                                     wpe_view_activity_state_in_window);
    g_signal_connect(v->view, "load-changed", G_CALLBACK(&floorLoadChanged), v);
    return v;
}

void floorLoad(FloorView* v, const std::string& url) {
    v->finished = false;
    webkit_web_view_load_uri(v->view, url.c_str());
    while (!v->finished) g_main_context_iteration(nullptr, TRUE);
}

Figures floor(const std::string& url, int views) {
    Figures f;
    auto start = Clock::now();
    if (!wpe_loader_init("libWPEBackend-fdo-1.0.so.1") || !wpe_fdo_initialize_shm()) {
        std::fprintf(stderr, "bench_kiosk_webview: WPE did not start\n");
        std::exit(1);
    }
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    FloorView* first = floorView(context, nullptr);
    floorLoad(first, url);
    f.cold = since(start);
    start = Clock::now();
    floorLoad(first, url);
    f.warm = since(start);
    f.pss = treePssKiB();
    for (int i = 0; i < views; ++i) floorLoad(floorView(context, first->view), url);
    if (views > 0) f.perView = (treePssKiB() - f.pss) / views;
    return f;
}

struct Server {
    pid_t pid = -1;
    int port = 0;
};

// The recording server of the tests, answering every request with the page.
Server startServer(const std::string& dir) {
    std::string body;
    for (const char* c = kPage; *c; ++c) body += *c == '"' ? std::string("\\\"") : std::string(1, *c);
    std::ofstream(dir + "/script.json") << R"({"default": {"headers": [["Content-Type", "text/html"], ["Cache-Control", "max-age=3600"]], "body": ")" << body
                                        << "\"}}";
    int out[2];
    if (pipe(out) != 0) return {};
    Server server;
    server.pid = fork();
    if (server.pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execlp("python3", "python3", DK_RECORDING_SERVER, "--out", dir.c_str(), "--script", (dir + "/script.json").c_str(),
               "--max-seconds", "600", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    if (!lines || std::fscanf(lines, "PORT %d", &server.port) != 1) server.pid = -1;
    if (lines) fclose(lines);
    return server;
}

Figures child(const char* self, const char* mode, const std::string& url, int views) {
    const std::string command = std::string("'") + self + "' --" + mode + " '" + url + "' " + std::to_string(views);
    Figures f;
    FILE* out = popen(command.c_str(), "r");
    if (!out || std::fscanf(out, "%lf %lf %ld %ld", &f.cold, &f.warm, &f.pss, &f.perView) != 4) {
        std::fprintf(stderr, "bench_kiosk_webview: %s gave no figures\n", mode);
        std::exit(1);
    }
    pclose(out);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--kiosk") {
        print(contentView(argv[2], std::atoi(argv[3])));
        std::fflush(stdout);
        std::_Exit(0);  // WebKit cannot be torn down
    }
    if (argc == 4 && std::string(argv[1]) == "--floor") {
        print(floor(argv[2], std::atoi(argv[3])));
        std::fflush(stdout);
        std::_Exit(0);
    }
    const int views = argc > 1 ? std::atoi(argv[1]) : 4;
    char dir[] = "/tmp/bench_kiosk_webview.XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const Server server = startServer(dir);
    if (server.pid <= 0) {
        std::fprintf(stderr, "bench_kiosk_webview: the page server did not start\n");
        return 1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/unit.html";
    // The floor first: the server is then as warm for both.
    const Figures base = child(argv[0], "floor", url, views);
    const Figures ours = child(argv[0], "kiosk", url, views);
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    std::filesystem::remove_all(dir);
    auto mib = [](long kib) { return kib / 1024.0; };
    std::printf("%-34s %10s %10s %12s %14s\n", "", "cold s", "warm s", "PSS MiB", "per view MiB");
    std::printf("%-34s %10.3f %10.3f %12.1f %14.1f\n", "floor: minimal WPE program", base.cold, base.warm,
                mib(base.pss), mib(base.perView));
    std::printf("%-34s %10.3f %10.3f %12.1f %14.1f\n", "content view to contentViewDidLoad:", ours.cold, ours.warm,
                mib(ours.pss), mib(ours.perView));
    std::printf("%-34s %9.2fx %9.2fx %11.2fx   (targets: time <= 1.2x, memory <= 1.1x)\n", "ratio", ours.cold / base.cold,
                ours.warm / base.warm, static_cast<double>(ours.pss) / static_cast<double>(base.pss));
    return 0;
}
