// The platform's movie player: a file or an http(s) address opened and decoded by FFmpeg on a
// worker thread, video frames shown in the player's view (drawn by the compositor like any view),
// sound through an OpenAL streaming source of its own (silent without a device). Frames are paced
// by the main run loop's clock, so the virtual clock plays a clip as fast as it moves. Main thread.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {
class Button;
}

namespace plat::media {

// Object: the player. The finish carries its reason (an integer) under the reason key.
inline constexpr const char* kMoviePlayerPlaybackDidFinishNotification = "MPMoviePlayerPlaybackDidFinishNotification";
inline constexpr const char* kMoviePlayerPlaybackDidFinishReasonUserInfoKey =
    "MPMoviePlayerPlaybackDidFinishReasonUserInfoKey";
inline constexpr const char* kMoviePlayerContentPreloadDidFinishNotification =
    "MPMoviePlayerContentPreloadDidFinishNotification";
inline constexpr const char* kMediaPlaybackIsPreparedToPlayDidChangeNotification =
    "MPMediaPlaybackIsPreparedToPlayDidChangeNotification";
inline constexpr const char* kMoviePlayerLoadStateDidChangeNotification = "MPMoviePlayerLoadStateDidChangeNotification";

// Load-state bits: nothing known yet (0), playable, and playable to the end without stalling.
enum MovieLoadState : unsigned { kMovieLoadStatePlayable = 1, kMovieLoadStatePlaythroughOK = 2 };

enum class MovieFinishReason { PlaybackEnded = 0, PlaybackError = 1, UserExited = 2 };
const char* movieFinishReasonName(MovieFinishReason reason);  // "ended", "error", "exited"

class MovieDecoder;
class MovieAudio;

// Shows the latest frame, aspect-fit on its background colour (black when it has none).
class MovieView : public ui::View {
public:
    const char* className() const override { return "MPMovieView"; }
    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    void showFrame(int width, int height, std::vector<uint8_t> rgba);
    bool hasFrame() const { return m_width > 0; }

private:
    int m_width = 0, m_height = 0;
    std::vector<uint8_t> m_rgba;
};

class MoviePlayerController : public std::enable_shared_from_this<MoviePlayerController> {
public:
    static std::shared_ptr<MoviePlayerController> create(std::string url);
    ~MoviePlayerController();
    MoviePlayerController(const MoviePlayerController&) = delete;
    MoviePlayerController& operator=(const MoviePlayerController&) = delete;

    const std::string& contentURL() const { return m_url; }
    // Always there: this player is of the newer kind.
    const std::shared_ptr<MovieView>& view() const { return m_view; }

    // Recorded only: the view shows no controls of its own but the full-screen Done.
    int controlStyle() const { return m_controlStyle; }
    void setControlStyle(int style) { m_controlStyle = style; }
    int movieControlMode() const { return m_controlMode; }
    void setMovieControlMode(int mode) { m_controlMode = mode; }
    bool useApplicationAudioSession() const { return m_useApplicationAudioSession; }
    void setUseApplicationAudioSession(bool on) { m_useApplicationAudioSession = on; }
    bool shouldAutoplay() const { return m_shouldAutoplay; }
    void setShouldAutoplay(bool on) { m_shouldAutoplay = on; }

    // Opens the source on the worker (once per playback); "preload finished" and "prepared to play
    // changed" follow, or the finish with an error.
    void prepareToPlay();
    bool isPreparedToPlay() const { return m_prepared; }
    // Playable and playthrough once the source has opened (the decoder keeps ahead of the clock);
    // 0 before and after a playback. Each change is posted (kMoviePlayerLoadStateDidChangeNotification).
    unsigned loadState() const { return m_loadState; }
    // Prepares when needed; plays from where it paused. Started while the view is in no window,
    // the player shows itself over the screen with a Done control (a user exit).
    void play();
    void pause();
    // Ends the playback (finish posted, reason exited, unless it had already finished).
    void stop();
    bool isPlaying() const { return m_playing; }
    // Seconds played, on the main loop's clock.
    double currentPlaybackTime() const;
    // The container's length once prepared (0 before), the decoded length once known.
    double duration() const { return m_duration; }
    bool isFullScreen() const { return m_fullScreen != nullptr; }
    ui::Button* doneButton() const { return m_done.get(); }

    // Ends the playback at once as if it had played out.
    void finishPlaying() { finish(MovieFinishReason::PlaybackEnded); }
    // The player most recently started and not yet finished (tools), or null.
    static MoviePlayerController* current();

private:
    explicit MoviePlayerController(std::string url);
    void opened(bool ok, double duration);
    void tick();
    void finish(MovieFinishReason reason);
    void showFullScreen();
    void leaveFullScreen();
    foundation::Sender sender() const { return {this, "MPMoviePlayerController"}; }

    std::string m_url;
    std::shared_ptr<MovieView> m_view;
    std::shared_ptr<ui::View> m_fullScreen;
    std::shared_ptr<ui::Button> m_done;
    std::unique_ptr<MovieDecoder> m_decoder;
    std::unique_ptr<MovieAudio> m_audio;
    foundation::Timer m_ticker, m_endTimer;
    int m_controlStyle = 1, m_controlMode = 0;
    bool m_useApplicationAudioSession = true, m_shouldAutoplay = true;
    bool m_preparing = false, m_prepared = false, m_playing = false, m_playWhenPrepared = false;
    bool m_finished = false;
    unsigned m_loadState = 0;
    double m_duration = 0;
    double m_played = 0;       // seconds played before the current run
    double m_runStart = 0;     // the loop's time the current run started
};

// The modal form: a controller whose view is its player's, dismissing itself when the movie ends.
class MoviePlayerViewController : public ui::ViewController {
public:
    explicit MoviePlayerViewController(std::string url);
    const char* className() const override { return "MPMoviePlayerViewController"; }
    const std::shared_ptr<MoviePlayerController>& moviePlayer() const { return m_player; }
    void loadView() override;
    void viewDidAppear(bool animated) override;

private:
    std::shared_ptr<MoviePlayerController> m_player;
    foundation::Observation m_finished;
};

// The players' sound device closed, for a process's end after its last player has gone (OpenAL
// complains of a device left open); players made after it are silent.
void closeMovieAudio();

}  // namespace plat::media
