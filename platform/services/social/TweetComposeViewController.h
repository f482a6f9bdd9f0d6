// The compose sheet: a modal screen with the tweet's text (editable: it takes the keyboard once
// shown), the image's preview, Send and Cancel. Send posts with the first account, through the same
// signed request and endpoints as a direct post; the completion runs once, sent or cancelled. The
// input script's compose.send and compose.cancel press them on the sheet on screen.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace plat::ui {
class Button;
class ImageView;
class TextView;
}  // namespace plat::ui

namespace plat::social {

// Made with std::make_shared.
class TweetComposeViewController : public ui::ViewController {
public:
    enum class Result { Cancelled, Done };

    TweetComposeViewController();
    ~TweetComposeViewController() override;
    const char* className() const override { return "TWTweetComposeViewController"; }

    // The class is there while the accounts service is (see Accounts.h).
    static bool isAvailable();
    static bool canSendTweet();

    void setInitialText(const std::string& text);
    const std::string& text();
    // Read with the image codec and kept as PNG for the post, and shown. False, nothing added, when
    // the file cannot be read or decoded.
    bool addImage(const std::string& path);
    bool hasImage() const { return m_png.has_value(); }
    void setCompletionHandler(std::function<void(Result)> handler) { m_completion = std::move(handler); }

    // The sheet's controls. Send traces "social compose TEXT", posts and completes once the post is
    // answered (nothing more is pressed meanwhile); Cancel completes at once.
    void send();
    void cancel();
    bool isSending() const { return m_sending; }
    // The sheet on screen (front-most), or null.
    static TweetComposeViewController* onScreen();

    void loadView() override;
    void viewDidAppear(bool animated) override;

private:
    void complete(Result result);

    std::shared_ptr<ui::TextView> m_textView;
    std::shared_ptr<ui::ImageView> m_preview;
    std::shared_ptr<ui::Button> m_send;
    std::shared_ptr<ui::Button> m_cancel;
    std::optional<std::vector<std::uint8_t>> m_png;
    std::string m_imagePath;
    std::function<void(Result)> m_completion;
    bool m_completed = false;
    bool m_sending = false;
};

}  // namespace plat::social
