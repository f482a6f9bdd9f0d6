#include "orbad/ads/OrbadImageDownloads.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <optional>

#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Image.h"

namespace orbad {

struct OrbadImageDownloads::State {
    mutable std::mutex lock;
    std::map<std::string, std::shared_ptr<plat::ui::Image>> images;
    unsigned count = 0;               // unanswered, waiting ones included
    std::deque<std::string> waiting;  // not started yet
    bool loading = false;
    std::uint64_t generation = 0;
};

// The delegate of one generation's requests.
struct OrbadImageDownloads::Batch : OBHTTPRequestDelegate {
    std::weak_ptr<Batch> self;
    std::weak_ptr<State> state;
    std::uint64_t generation = 0;
    std::function<void()> done;

    void requestDidFinish(OBCoreHTTPRequest& request) override {
        const bool ok = request.responseStatusCode() >= 200 && request.responseStatusCode() < 300;
        answered(request.URL(), ok ? &request.responseData() : nullptr);
    }
    void requestDidFail(OBCoreHTTPRequest& request, const Error&) override { answered(request.URL(), nullptr); }

    void answered(const std::string& url, const Data* data) {
        std::shared_ptr<State> s = state.lock();
        if (!s) return;
        std::shared_ptr<plat::ui::Image> picture;
        if (data && !data->empty()) picture = plat::ui::Image::fromData(data->data(), data->size(), url);
        std::optional<std::string> next;
        bool last = false;
        {
            std::lock_guard guard(s->lock);
            if (s->generation != generation || s->count == 0) return;
            if (picture) s->images[url] = std::move(picture);
            if (!s->waiting.empty()) {
                next = std::move(s->waiting.front());
                s->waiting.pop_front();
            }
            last = --s->count == 0;
        }
        if (next) fetch(*next);
        if (!last) return;
        // Posted, not waited for: a main thread that cancels requests and joins their threads (the
        // way out of a tool) must not wait for one that waits for it. The generation is checked
        // again where it changes: on the main thread.
        plat::foundation::RunLoop::main().perform([s, gen = generation, fn = done] {
            {
                std::lock_guard guard(s->lock);
                if (s->generation != gen) return;
                s->loading = false;
            }
            if (fn) fn();
        });
    }

    // Starts one download of this generation; one that started as the generation moved on is
    // cancelled, its answer being ignored anyway.
    void fetch(const std::string& url) {
        std::shared_ptr<Batch> me = self.lock();
        std::shared_ptr<State> s = state.lock();
        if (!me || !s) return;
        auto request = OBHTTPRequest::create(url, me);
        request->startAsynchronous();
        bool stale;
        {
            std::lock_guard guard(s->lock);
            stale = s->generation != generation;
        }
        if (stale) request->cancel();
    }
};

std::vector<std::string> distinctURLs(const std::vector<std::string>& urls) {
    std::vector<std::string> out;
    for (const std::string& url : urls)
        if (std::find(out.begin(), out.end(), url) == out.end()) out.push_back(url);
    return out;
}

OrbadImageDownloads::OrbadImageDownloads() : m_state(std::make_shared<State>()) {}

OrbadImageDownloads::~OrbadImageDownloads() {
    cancel();
}

void OrbadImageDownloads::start(const std::vector<std::string>& urls, std::function<void()> done) {
    cancel();
    std::vector<std::string> distinct = distinctURLs(urls);
    m_batch = std::make_shared<Batch>();
    m_batch->self = m_batch;
    m_batch->state = m_state;
    m_batch->done = std::move(done);
    const size_t now = std::min<size_t>(distinct.size(), kMaxRunning);
    {
        std::lock_guard guard(m_state->lock);
        m_batch->generation = m_state->generation;
        m_state->count = static_cast<unsigned>(distinct.size());
        m_state->loading = !distinct.empty();
        m_state->waiting.assign(std::make_move_iterator(distinct.begin() + static_cast<std::ptrdiff_t>(now)),
                                std::make_move_iterator(distinct.end()));
    }
    for (size_t i = 0; i < now; ++i) m_batch->fetch(distinct[i]);
}

void OrbadImageDownloads::cancel() {
    {
        std::lock_guard guard(m_state->lock);
        ++m_state->generation;
        m_state->count = 0;
        m_state->loading = false;
        m_state->waiting.clear();
    }
    if (m_batch) OBCoreHTTPRequest::cancelRequestsForDelegate(m_batch.get());
    m_batch.reset();
}

void OrbadImageDownloads::clear() {
    std::lock_guard guard(m_state->lock);
    m_state->images.clear();
}

bool OrbadImageDownloads::isLoading() const {
    std::lock_guard guard(m_state->lock);
    return m_state->loading;
}

unsigned OrbadImageDownloads::outstanding() const {
    std::lock_guard guard(m_state->lock);
    return m_state->count;
}

std::shared_ptr<plat::ui::Image> OrbadImageDownloads::image(const std::string& url) const {
    std::lock_guard guard(m_state->lock);
    auto it = m_state->images.find(url);
    return it == m_state->images.end() ? nullptr : it->second;
}

}  // namespace orbad
