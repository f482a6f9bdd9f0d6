#include "platform/services/social/TweetComposeViewController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/LocalServices.h"
#include "platform/image/ImageCodec.h"
#include "platform/services/social/SignedRequest.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextView.h"
#include "platform/ui/UITrace.h"

namespace plat::social {

namespace {

constexpr double kBarHeight = 44;
constexpr double kButtonWidth = 72;
constexpr double kInset = 8;
constexpr double kPreviewSide = 72;

// The sheet's view, so the one on screen can be found.
class TweetComposeView : public ui::View {
public:
    using View::View;
    const char* className() const override { return "TWTweetComposeView"; }
};

std::function<void()> onSheet(void (TweetComposeViewController::*control)()) {
    TweetComposeViewController* sheet = TweetComposeViewController::onScreen();
    if (!sheet || sheet->isSending()) return nullptr;
    return [weak = std::weak_ptr(sheet->shared_from_this()), control] {
        if (auto live = std::static_pointer_cast<TweetComposeViewController>(weak.lock())) ((*live).*control)();
    };
}

void registerCommands() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    foundation::registerServiceCommand("compose.send",
                                       [](const auto&) { return onSheet(&TweetComposeViewController::send); });
    foundation::registerServiceCommand("compose.cancel",
                                       [](const auto&) { return onSheet(&TweetComposeViewController::cancel); });
}

}  // namespace

TweetComposeViewController::TweetComposeViewController() {
    registerCommands();
}

TweetComposeViewController::~TweetComposeViewController() = default;

bool TweetComposeViewController::isAvailable() {
    registerSocialClasses();
    return sys::hasClass(kTweetComposeClass);
}

bool TweetComposeViewController::canSendTweet() {
    return social::canSendTweet();
}

void TweetComposeViewController::loadView() {
    ui::Application* app = ui::Application::shared();
    auto root = std::make_shared<TweetComposeView>(app ? app->interfaceBounds() : ui::Rect{0, 0, 320, 480});
    root->setBackgroundColor(ui::Color{0.93, 0.93, 0.93, 1});
    root->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    const double width = root->bounds().width;
    const double height = root->bounds().height;

    auto bar = std::make_shared<ui::View>(ui::Rect{0, 0, width, kBarHeight});
    bar->setBackgroundColor(ui::Color{0.43, 0.52, 0.64, 1});
    bar->setAutoresizingMask(ui::kAutoresizingFlexibleWidth);
    auto title = std::make_shared<ui::Label>(
        ui::Rect{kButtonWidth + 2 * kInset, 0, std::max(width - 2 * (kButtonWidth + 2 * kInset), 0.0), kBarHeight});
    title->setText("Twitter");
    title->setFont(ui::Font{"Helvetica-Bold", 17});
    title->setTextColor(ui::Color{1, 1, 1, 1});
    title->setTextAlignment(ui::TextAlignment::Center);
    title->setAutoresizingMask(ui::kAutoresizingFlexibleWidth);
    bar->addSubview(title);
    const auto button = [&](const char* english, double x, unsigned mask, void (TweetComposeViewController::*control)()) {
        auto b = std::make_shared<ui::Button>(ui::Rect{x, kInset, kButtonWidth, kBarHeight - 2 * kInset});
        b->setTitle(foundation::Bundle::localized(english));
        b->setBackgroundColor(ui::Color{0.2, 0.35, 0.65, 1});
        b->setAutoresizingMask(mask);
        b->addTarget(this, [this, control](ui::Button&) { (this->*control)(); });
        bar->addSubview(b);
        return b;
    };
    m_cancel = button("Cancel", kInset, ui::kAutoresizingFlexibleRightMargin, &TweetComposeViewController::cancel);
    m_send = button("Send", width - kButtonWidth - kInset, ui::kAutoresizingFlexibleLeftMargin,
                    &TweetComposeViewController::send);
    root->addSubview(bar);

    const std::string initial = m_textView ? m_textView->text() : std::string();
    m_textView = std::make_shared<ui::TextView>(
        ui::Rect{0, kBarHeight, std::max(width - kPreviewSide - 2 * kInset, 0.0), std::max(height - kBarHeight, 0.0)});
    m_textView->setText(initial);
    m_textView->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    root->addSubview(m_textView);
    m_preview = std::make_shared<ui::ImageView>(
        ui::Rect{width - kPreviewSide - kInset, kBarHeight + kInset, kPreviewSide, kPreviewSide});
    m_preview->setAutoresizingMask(ui::kAutoresizingFlexibleLeftMargin);
    m_preview->setHidden(!m_png);
    if (m_png) m_preview->setImage(m_imagePath);
    root->addSubview(m_preview);
    setView(std::move(root));
}

void TweetComposeViewController::setInitialText(const std::string& text) {
    view();
    m_textView->setText(text);
}

const std::string& TweetComposeViewController::text() {
    view();
    return m_textView->text();
}

bool TweetComposeViewController::addImage(const std::string& path) {
    image::Bitmap bitmap;
    image::Error error;
    std::vector<std::uint8_t> png;
    std::string encodeError;
    if (!image::decodeFile(path, &bitmap, &error)) {
        foundation::log("compose sheet: no image from %s: %s", path.c_str(), error.message.c_str());
        return false;
    }
    if (!image::encodePNG(bitmap.width, bitmap.height, bitmap.rgba.data(), bitmap.rgba.size(), 4, &png,
                          &encodeError)) {
        foundation::log("compose sheet: %s", encodeError.c_str());
        return false;
    }
    m_png = std::move(png);
    m_imagePath = path;
    view();
    m_preview->setImage(path);
    m_preview->setHidden(false);
    return true;
}

void TweetComposeViewController::viewDidAppear(bool) {
    m_textView->becomeFirstResponder();
}

void TweetComposeViewController::send() {
    if (m_completed || m_sending) return;
    const std::string message = text();
    foundation::trace(kTraceSocial, [&] { return "compose " + ui::traceable(message); });
    const std::optional<AccountsConfiguration> accounts = readAccountsConfiguration();
    if (!accounts || !accounts->accessGranted || accounts->twitter.empty()) {
        foundation::log("compose sheet: no Twitter account to send with");
        complete(Result::Done);
        return;
    }
    // The sheet stays up until the post is answered, as the platform's does while it sends.
    m_sending = true;
    std::weak_ptr<ViewController> weak = weak_from_this();
    tweetRequest(accounts->twitter.front(), message, m_png).perform([weak](int, std::vector<std::uint8_t>) {
        foundation::RunLoop::main().perform([weak] {
            if (auto live = std::static_pointer_cast<TweetComposeViewController>(weak.lock()))
                live->complete(Result::Done);
        });
    });
}

void TweetComposeViewController::cancel() {
    if (!m_sending) complete(Result::Cancelled);
}

void TweetComposeViewController::complete(Result result) {
    if (m_completed) return;
    m_completed = true;
    if (m_textView) m_textView->resignFirstResponder();
    // The handler may let the sheet go.
    auto keep = shared_from_this();
    if (auto handler = std::move(m_completion)) handler(result);
}

TweetComposeViewController* TweetComposeViewController::onScreen() {
    ui::Application* app = ui::Application::shared();
    ui::View* found = app ? app->frontmostView([](ui::View& view) {
        return dynamic_cast<TweetComposeView*>(&view) != nullptr;
    })
                          : nullptr;
    return found ? dynamic_cast<TweetComposeViewController*>(found->viewController()) : nullptr;
}

}  // namespace plat::social
