#include "platform/media/MoviePlayer.h"

#include <cairo.h>

#include <algorithm>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/media/MovieAudio.h"
#include "platform/media/MovieDecoder.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"

namespace plat::media {

using foundation::NotificationCenter;
using foundation::RunLoop;

namespace {

foundation::TraceCategory kTraceMovie("movie");

// The pace frames are looked at; a clip's own rate only decides which frame shows.
constexpr double kTickInterval = 1.0 / 60;
// Sound handed to OpenAL this far ahead of the picture.
constexpr double kAudioAhead = 0.25;

MoviePlayerController* g_current = nullptr;

}  // namespace

const char* movieFinishReasonName(MovieFinishReason reason) {
    switch (reason) {
    case MovieFinishReason::PlaybackEnded: return "ended";
    case MovieFinishReason::PlaybackError: return "error";
    case MovieFinishReason::UserExited: return "exited";
    }
    return "ended";
}

// ---- the view ----

void MovieView::showFrame(int width, int height, std::vector<uint8_t> rgba) {
    if (width <= 0 || height <= 0 || rgba.size() != size_t(width) * height * 4) return;
    m_width = width;
    m_height = height;
    m_rgba = std::move(rgba);
    setNeedsDisplay();
}

void MovieView::draw(cairo_t* cr) {
    const ui::Rect b = bounds();
    const ui::Color around = backgroundColor().value_or(ui::Color{0, 0, 0, 1});
    cairo_set_source_rgb(cr, around.r, around.g, around.b);
    cairo_paint(cr);
    if (!m_width) return;
    // Cairo's ARGB32 is premultiplied native-endian; video frames are opaque.
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, m_width, m_height);
    const int stride = cairo_image_surface_get_stride(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    for (int y = 0; y < m_height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
        const uint8_t* src = m_rgba.data() + size_t(y) * m_width * 4;
        for (int x = 0; x < m_width; ++x, src += 4) row[x] = uint32_t(src[0]) << 16 | uint32_t(src[1]) << 8 | src[2];
    }
    cairo_surface_mark_dirty(image);
    const double scale = std::min(b.width / m_width, b.height / m_height);
    cairo_save(cr);
    cairo_translate(cr, (b.width - m_width * scale) / 2, (b.height - m_height * scale) / 2);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(image);
}

// ---- the player ----

std::shared_ptr<MoviePlayerController> MoviePlayerController::create(std::string url) {
    return std::shared_ptr<MoviePlayerController>(new MoviePlayerController(std::move(url)));
}

MoviePlayerController::MoviePlayerController(std::string url)
    : m_url(std::move(url)), m_view(std::make_shared<MovieView>()) {
    m_view->setBackgroundColor(ui::Color{0, 0, 0, 1});
}

MoviePlayerController::~MoviePlayerController() {
    if (g_current == this) g_current = nullptr;
    m_ticker.invalidate();
    m_decoder.reset();
    leaveFullScreen();
}

MoviePlayerController* MoviePlayerController::current() {
    return g_current;
}

void MoviePlayerController::prepareToPlay() {
    if (m_preparing || m_prepared) return;
    if (m_finished) {
        // A new playback from the start.
        m_finished = false;
        m_played = 0;
    }
    m_preparing = true;
    foundation::trace(kTraceMovie, "open " + m_url);
    // The virtual clock waits for the open, so the movie's time starts when it is ready.
    auto work = std::make_shared<foundation::WorkInFlight>(RunLoop::main().clock().shared_from_this()->beginWork());
    std::weak_ptr<MoviePlayerController> weak = weak_from_this();
    m_decoder = std::make_unique<MovieDecoder>(m_url, [weak, work](bool ok, double duration) {
        RunLoop::main().perform([weak, ok, duration] {
            if (auto self = weak.lock()) self->opened(ok, duration);
        });
        work->end();
    });
}

void MoviePlayerController::opened(bool ok, double duration) {
    if (!m_preparing) return;
    m_preparing = false;
    if (!ok) {
        finish(MovieFinishReason::PlaybackError);
        return;
    }
    m_prepared = true;
    m_duration = duration;
    m_loadState = kMovieLoadStatePlayable | kMovieLoadStatePlaythroughOK;
    const auto keep = shared_from_this();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.post(kMoviePlayerContentPreloadDidFinishNotification, sender());
    center.post(kMediaPlaybackIsPreparedToPlayDidChangeNotification, sender());
    center.post(kMoviePlayerLoadStateDidChangeNotification, sender());
    if (m_playWhenPrepared) play();
}

void MoviePlayerController::play() {
    if (m_playing) return;
    g_current = this;
    if (!m_prepared) {
        m_playWhenPrepared = true;
        if (!m_view->window()) showFullScreen();
        prepareToPlay();
        return;
    }
    m_playWhenPrepared = false;
    if (!m_view->window()) showFullScreen();
    foundation::trace(kTraceMovie, "play");
    m_playing = true;
    m_runStart = RunLoop::main().now();
    if (!m_audio) m_audio = std::make_unique<MovieAudio>();
    m_audio->resume();
    m_ticker = RunLoop::main().addRepeatingTimer(kTickInterval, [this] { tick(); });
    tick();
}

void MoviePlayerController::pause() {
    m_playWhenPrepared = false;
    if (!m_playing) return;
    m_played = currentPlaybackTime();
    m_playing = false;
    m_ticker.invalidate();
    m_endTimer.invalidate();
    if (m_audio) m_audio->pause();
}

void MoviePlayerController::stop() {
    if (m_finished || (!m_prepared && !m_preparing)) return;
    finish(MovieFinishReason::UserExited);
}

double MoviePlayerController::currentPlaybackTime() const {
    return m_played + (m_playing ? RunLoop::main().now() - m_runStart : 0);
}

void MoviePlayerController::tick() {
    if (!m_decoder || !m_playing) return;
    const double time = currentPlaybackTime();
    if (auto frame = m_decoder->frameAt(time)) m_view->showFrame(frame->width, frame->height, std::move(frame->rgba));
    std::vector<AudioChunk> sound = m_decoder->audioBefore(time + kAudioAhead);
    if (m_audio && m_audio->hasDevice()) m_audio->queue(std::move(sound));
    double end = 0;
    if (!m_decoder->drained(&end)) return;
    // The container's length may leave out the last frame's own duration.
    m_duration = std::max(m_duration, end);
    if (time >= m_duration - 1e-9) {
        finish(MovieFinishReason::PlaybackEnded);
    } else if (!m_endTimer.isValid()) {
        m_endTimer = RunLoop::main().addTimer(m_duration - time, [this] { tick(); });
    }
}

void MoviePlayerController::finish(MovieFinishReason reason) {
    if (m_finished) return;
    const auto keep = shared_from_this();
    m_finished = true;
    m_playing = m_preparing = m_prepared = m_playWhenPrepared = false;
    const bool wasLoaded = m_loadState != 0;
    m_loadState = 0;
    m_ticker.invalidate();
    m_endTimer.invalidate();
    m_decoder.reset();
    m_audio.reset();
    if (g_current == this) g_current = nullptr;
    leaveFullScreen();
    foundation::trace(kTraceMovie, std::string("finish ") + movieFinishReasonName(reason));
    if (wasLoaded) NotificationCenter::defaultCenter().post(kMoviePlayerLoadStateDidChangeNotification, sender());
    NotificationCenter::defaultCenter().post(
        kMoviePlayerPlaybackDidFinishNotification, sender(),
        foundation::Value(foundation::Value::Dictionary{
            {kMoviePlayerPlaybackDidFinishReasonUserInfoKey, int64_t(static_cast<int>(reason))}}));
}

void MoviePlayerController::showFullScreen() {
    ui::Application* app = ui::Application::shared();
    if (!app || m_fullScreen) return;
    const ui::Rect screen = app->interfaceBounds();
    m_fullScreen = std::make_shared<ui::View>(screen);
    m_fullScreen->setBackgroundColor(ui::Color{0, 0, 0, 1});
    m_view->setFrame(m_fullScreen->bounds());
    m_fullScreen->addSubview(m_view);
    m_done = std::make_shared<ui::Button>(ui::Rect{5, 5, 60, 30});
    m_done->setTitle("Done");
    m_done->addTarget(this, [this](ui::Button&) { finish(MovieFinishReason::UserExited); });
    m_fullScreen->addSubview(m_done);
    app->addOverlay(m_fullScreen);
}

void MoviePlayerController::leaveFullScreen() {
    if (!m_fullScreen) return;
    if (ui::Application* app = ui::Application::shared()) app->removeOverlay(m_fullScreen.get());
    m_view->removeFromSuperview();
    m_fullScreen.reset();
    m_done.reset();
}

// ---- the modal form ----

MoviePlayerViewController::MoviePlayerViewController(std::string url)
    : m_player(MoviePlayerController::create(std::move(url))) {
    m_finished = NotificationCenter::defaultCenter().observe(
        kMoviePlayerPlaybackDidFinishNotification, m_player.get(), [this](const auto&) {
            if (presentingViewController()) dismissViewController(true);
        });
}

void MoviePlayerViewController::loadView() {
    ViewController::loadView();
    m_player->view()->setFrame(view()->bounds());
    m_player->view()->setAutoresizingMask(18);
    view()->addSubview(m_player->view());
}

void MoviePlayerViewController::viewDidAppear(bool) {
    if (m_player->shouldAutoplay()) m_player->play();
}

}  // namespace plat::media
