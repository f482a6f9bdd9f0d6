// The pictures a creative view needs before it can show: each distinct URL fetched once, a few at
// a time, decoded as it arrives, and one call on the main thread when the last has answered. Restarting or
// cancelling moves to a new generation: answers of an older one change nothing.
//
// Answers count down under a lock on the request threads, each starting the next queued download;
// the last posts one main-thread step without waiting for it (a main thread joining request
// threads on its way out is never waited on). The generation is checked again on the main thread,
// so a late answer never touches a reset or reused view.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plat::ui {
class Image;
}

namespace orbad {

class OrbadImageDownloads {
public:
    // Downloads running at once; the rest wait their turn.
    static constexpr unsigned kMaxRunning = 4;

    OrbadImageDownloads();
    ~OrbadImageDownloads();
    OrbadImageDownloads(const OrbadImageDownloads&) = delete;
    OrbadImageDownloads& operator=(const OrbadImageDownloads&) = delete;

    // Fetches the distinct URLs among `urls`, kMaxRunning at a time (none: nothing starts and
    // `done` never runs). `done` runs on the main thread, posted by the last answer, unless
    // cancel() or another start came first. Failed downloads, and data that is no picture, leave
    // no image.
    void start(const std::vector<std::string>& urls, std::function<void()> done);
    // Cancels the downloads under way; their answers are ignored from now on.
    void cancel();
    // Forgets the pictures.
    void clear();
    bool isLoading() const;
    // Downloads still unanswered.
    unsigned outstanding() const;
    std::shared_ptr<plat::ui::Image> image(const std::string& url) const;

    struct State;
    struct Batch;

private:
    std::shared_ptr<State> m_state;
    std::shared_ptr<Batch> m_batch;
};

// The distinct texts of `urls`, in their first order.
std::vector<std::string> distinctURLs(const std::vector<std::string>& urls);

}  // namespace orbad
