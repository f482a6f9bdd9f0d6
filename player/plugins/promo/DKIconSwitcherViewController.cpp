#include "player/plugins/promo/DKIconSwitcherViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/GradientLayer.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

namespace dk::player {
plat::foundation::TraceCategory& promoTrace() {
    static plat::foundation::TraceCategory category("promo");
    return category;
}
}  // namespace dk::player

using dk::player::promoTrace;
using plat::ui::Button;
using plat::ui::Color;
using plat::ui::Rect;
using plat::ui::View;

namespace {

// The strip's constants for an idiom.
struct Metrics {
    double barHeight;
    unsigned perPagePortrait, perPageLandscape;
    double iconSize, iconTop, captionTop, captionHeight;
    Rect gloss;
};
constexpr Metrics kPhone{95, 4, 5, 57, 16, 73, 20, {-10, -57, 77, 85.5}};
constexpr Metrics kTablet{117, 6, 7, 72, 18, 90, 20, {-10, -72, 92, 108}};

bool isPhone() {
    return plat::sys::Device::current().userInterfaceIdiom() == plat::sys::kUserInterfaceIdiomPhone;
}
const Metrics& metrics() {
    return isPhone() ? kPhone : kTablet;
}
bool landscape() {
    const plat::ui::Application* app = plat::ui::Application::shared();
    const int orientation = app ? app->interfaceOrientation() : 1;
    return orientation == 3 || orientation == 4;
}

// A system font at the platform's standard size.
constexpr double kSystemFontSize = 14;

// The controller's view: the strip lays out whenever it does.
class StripRootView : public View {
public:
    explicit StripRootView(DKIconSwitcherViewController* controller) : m_controller(controller) {}
    void layoutSubviews() override {
        if (m_controller) m_controller->viewWillLayoutSubviews();
    }
    DKIconSwitcherViewController* m_controller;
};

// The strip on screen (main thread only).
std::weak_ptr<DKIconSwitcherViewController>& current() {
    static std::weak_ptr<DKIconSwitcherViewController> strip;
    return strip;
}

}  // namespace

void DKIconSwitcherView::layoutSubviews() {
    View::layoutSubviews();
    if (m_controller) m_controller->viewWillLayoutSubviews();
}

std::shared_ptr<DKIconSwitcherViewController> DKIconSwitcherViewController::create(DKIconSwitcherItems items) {
    plat::ui::Application* app = plat::ui::Application::shared();
    auto controller = std::make_shared<DKIconSwitcherViewController>(
        app ? app->runLoop() : plat::foundation::RunLoop::main());
    controller->setItems(std::move(items));
    controller->m_delegate = std::static_pointer_cast<DKIconSwitcherViewControllerDelegate>(controller);
    return controller;
}

DKIconSwitcherViewController::DKIconSwitcherViewController(plat::foundation::RunLoop& loop) : m_loop(loop) {}

DKIconSwitcherViewController::~DKIconSwitcherViewController() {
    if (isViewLoaded())
        if (auto* root = dynamic_cast<StripRootView*>(view().get())) root->m_controller = nullptr;
    if (m_containerForScrollView) m_containerForScrollView->setController(nullptr);
    if (m_scrollView) m_scrollView->setDelegate(nullptr);
}

void DKIconSwitcherViewController::loadView() {
    plat::ui::Application* app = plat::ui::Application::shared();
    auto root = std::make_shared<StripRootView>(this);
    root->setFrame(app ? app->interfaceBounds() : Rect{});
    root->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleHeight);
    setView(root);
}

void DKIconSwitcherViewController::setItems(DKIconSwitcherItems items) {
    if (items == m_items && m_containerForScrollView) return;
    m_items = std::move(items);
    setupInterface();
}

void DKIconSwitcherViewController::setFeatureText(std::optional<std::string> text) {
    m_featureText = std::move(text);
    // Laid out already: shown now; else at the first layout.
    if (m_iconsPerPage != 0) viewWillLayoutSubviews();
}

void DKIconSwitcherViewController::setFeatureTextIconSpan(unsigned span) {
    if (span == m_featureTextIconSpan) return;
    m_featureTextIconSpan = span;
    if (m_containerForScrollView) setupInterface();
}

void DKIconSwitcherViewController::setupInterface() {
    const std::shared_ptr<View>& root = view();
    for (const auto& sub : std::vector(root->subviews())) sub->removeFromSuperview();
    root->setAutoresizesSubviews(false);
    if (m_containerForScrollView) m_containerForScrollView->setController(nullptr);
    if (m_scrollView) m_scrollView->setDelegate(nullptr);

    m_containerForScrollView = std::make_shared<DKIconSwitcherView>();
    m_containerForScrollView->setController(this);
    m_containerForScrollView->setBackgroundColor(Color{1, 1, 1, 0.3});
    root->addSubview(m_containerForScrollView);

    m_visibleDismissButton = std::make_shared<Button>();
    m_visibleDismissButton->setBackgroundColor(Color{0, 0, 0, 1});
    m_visibleDismissButton->addTarget(this, [this](Button&) { dismissButtonPressed(); });
    m_visibleDismissButton->setTitle("X");
    m_visibleDismissButton->setFont({"Helvetica-Bold", kSystemFontSize});
    m_visibleDismissButton->setTitleColor(Color{1, 1, 1, 1});
    m_visibleDismissButton->setCornerRadius(10.0);
    m_visibleDismissButton->setHidden(!m_dismissButtonPresentationIntervalHasPassed);
    root->addSubview(m_visibleDismissButton);

    m_invisibleDismissButton = std::make_shared<Button>();
    m_invisibleDismissButton->setBackgroundColor(Color{0, 0, 0, 0.333});
    m_invisibleDismissButton->addTarget(this, [this](Button&) { invisibleDismissButtonPressed(); });
    root->addSubview(m_invisibleDismissButton);
    root->sendSubviewToBack(m_invisibleDismissButton.get());

    m_scrollView = std::make_shared<plat::ui::ScrollView>();
    m_scrollView->setAutoresizesSubviews(false);
    if (const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main())
        if (auto path = bundle->pathForResource("moregamesbar_bg", "png"))
            m_scrollView->setBackgroundPattern(plat::ui::Image::fromFile(*path));
    m_scrollView->setCanCancelContentTouches(true);
    m_scrollView->setShowsVerticalScrollIndicator(false);
    m_scrollView->setAlwaysBounceVertical(false);
    m_scrollView->setPagingEnabled(true);
    m_scrollView->setDelaysContentTouches(true);
    m_scrollView->setDelegate(this);
    m_containerForScrollView->addSubview(m_scrollView);

    m_textLabel = std::make_shared<plat::ui::Label>();
    m_textLabel->setFont({"Helvetica-Bold", 20.0});
    m_textLabel->setTextColor(Color{2.0 / 3, 2.0 / 3, 2.0 / 3, 1});
    m_textLabel->setShadowColor(Color{0, 0, 0, 1});
    m_textLabel->setShadowOffset({1.0, 1.0});
    m_textLabel->setTextAlignment(plat::ui::TextAlignment::Left);
    m_textLabel->setAdjustsFontSizeToFitWidth(false);
    m_textLabel->setNumberOfLines(2);  // wrapped at words
    m_scrollView->addSubview(m_textLabel);

    m_currentPage = 0;
    m_iconsPerPage = 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const DKIconSwitcherItem& item = *m_items[i];
        const long slot = static_cast<long>(m_featureTextIconSpan + i);
        auto tile = std::make_shared<View>();
        tile->setAutoresizesSubviews(false);
        tile->setTag(slot);

        auto button = std::make_shared<Button>();
        if (item.image) {
            button->setImage(item.image);
        } else {
            button->setBackgroundColor(Color{0, 0, 0, 1});
            auto spinner = std::make_shared<plat::ui::ActivityIndicator>(plat::ui::ActivityIndicatorStyle::WhiteLarge);
            spinner->setUserInteractionEnabled(false);
            spinner->startAnimating();
            button->addSubview(spinner);
        }
        button->addTarget(this, [this](Button& pressed) { buttonPressed(pressed); });
        button->setTag(slot);
        button->setClipsToBounds(true);
        button->setCornerRadius(8.0);

        auto gloss = std::make_shared<plat::ui::GradientLayer>();
        gloss->setColors({Color{1, 1, 1, 0.6}, Color{1, 1, 1, 0.05}});
        gloss->setStartPoint({0, 0});
        gloss->setEndPoint({0, 1.0});
        gloss->setCornerRadius(20.0);
        gloss->setClipsToBounds(true);
        button->addSubview(gloss);

        auto caption = std::make_shared<plat::ui::Label>();
        caption->setText(item.caption.value_or(""));
        caption->setTextAlignment(plat::ui::TextAlignment::Center);
        caption->setFont({"Helvetica-Bold", 12.0});
        caption->setTextColor(Color{1, 1, 1, 1});
        caption->setShadowColor(Color{0, 0, 0, 1});
        caption->setShadowOffset({0, 1.0});

        tile->addSubview(button);
        tile->addSubview(caption);
        m_scrollView->addSubview(tile);
    }
}

Rect DKIconSwitcherViewController::entireScreenRect() const {
    const plat::ui::Application* app = plat::ui::Application::shared();
    plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    plat::ui::ViewController* root = window ? window->rootViewController() : nullptr;
    return root ? root->view()->bounds() : Rect{};
}

double DKIconSwitcherViewController::deviceSpecificHeight() const {
    return metrics().barHeight;
}

Rect DKIconSwitcherViewController::offscreenRectForCurrentState() const {
    const Rect r = entireScreenRect();
    return {0, r.height, r.width, deviceSpecificHeight()};
}

Rect DKIconSwitcherViewController::appropriateRectForCurrentState() const {
    const Rect r = entireScreenRect();
    return {0, r.height - deviceSpecificHeight(), r.width, deviceSpecificHeight()};
}

double DKIconSwitcherViewController::adjustedYOrigin() const {
    // No status bar shows over a game.
    return entireScreenRect().height - deviceSpecificHeight();
}

Button* DKIconSwitcherViewController::iconButton(unsigned slot) const {
    if (!m_scrollView) return nullptr;
    for (const auto& tile : m_scrollView->subviews())
        if (tile->tag() == static_cast<long>(slot) && tile->subviews().size() >= 2)
            return dynamic_cast<Button*>(tile->subviews().front().get());
    return nullptr;
}

void DKIconSwitcherViewController::viewWillLayoutSubviews() {
    // Frames set here lay the bar out again, which asks for this once more: one pass is enough.
    if (m_layingOut || !m_containerForScrollView) return;
    m_layingOut = true;
    const Metrics& k = metrics();
    const Rect r = entireScreenRect();
    const double bar = deviceSpecificHeight();
    const unsigned n = landscape() ? k.perPageLandscape : k.perPagePortrait;

    view()->setFrame(r);
    m_containerForScrollView->setFrame(appropriateRectForCurrentState());
    m_invisibleDismissButton->setFrame({r.x, r.y, r.width, r.height - bar});
    m_visibleDismissButton->setFrame({r.width - 20, r.height - bar - 10, 20, 20});
    m_visibleDismissButton->setHidden(!m_dismissButtonPresentationIntervalHasPassed);

    const double barWidth = m_containerForScrollView->frame().width;
    const double s = barWidth / n;
    m_scrollView->setFrame({0, 1, barWidth, bar - 1});
    if (m_featureText) {
        m_textLabel->setText(*m_featureText);
        m_textLabel->setFrame({20, 0, std::max(0.0, s * m_featureTextIconSpan - 20), bar});
    } else {
        m_textLabel->setText("");
        m_textLabel->setFrame({});
    }

    for (const auto& tile : m_scrollView->subviews()) {
        if (std::string(tile->className()) != "UIView" || tile->subviews().size() < 2) continue;
        View& button = *tile->subviews()[0];
        View& caption = *tile->subviews()[1];
        caption.setFrame({0, k.captionTop, s, k.captionHeight});
        tile->setFrame({s * static_cast<double>(tile->tag()), 0, s, bar});
        tile->setBackgroundColor(std::nullopt);
        button.setFrame({(s - k.iconSize) / 2, k.iconTop, k.iconSize, k.iconSize});
        for (const auto& inside : button.subviews())
            if (dynamic_cast<plat::ui::ActivityIndicator*>(inside.get())) inside->setFrame(button.bounds());
        for (auto it = button.subviews().rbegin(); it != button.subviews().rend(); ++it)
            if (dynamic_cast<plat::ui::GradientLayer*>(it->get())) {
                (*it)->setFrame(k.gloss);
                break;
            }
    }

    // The text's span counts as slots, for pages and reports alike.
    const unsigned count = slotCount();
    const unsigned pages = (count + n - 1) / n;
    const unsigned previousPage = m_currentPage;
    if (m_currentPage >= pages) m_currentPage = pages ? pages - 1 : 0;
    const unsigned a = m_iconsPerPage * previousPage;
    const unsigned b = m_currentPage * n;
    const unsigned o = m_iconsPerPage;
    m_scrollView->setContentSize({pages * m_scrollView->frame().width, bar - 1});
    m_scrollView->setContentOffset({m_scrollView->bounds().width * m_currentPage, 0});
    if (a > b) iconsDidDisplayWithStartingSlot(b, a - b);
    if (n > o && b + n > a + o && b + n < count) iconsDidDisplayWithStartingSlot(a + o, b + n - a - o);
    m_iconsPerPage = n;
    m_layingOut = false;
}

void DKIconSwitcherViewController::iconsDidDisplayWithStartingSlot(unsigned start, unsigned count) {
    // Only the slots that hold items: none before the span, none past the last item.
    const unsigned span = m_featureTextIconSpan;
    const unsigned end = static_cast<unsigned>(std::min<unsigned long>(
        static_cast<unsigned long>(start) + count, slotCount()));
    start = std::max(start, span);
    if (start >= end) return;
    const DKIconSwitcherItems shown(m_items.begin() + (start - span), m_items.begin() + (end - span));
    if (auto delegate = m_delegate.lock()) delegate->iconsDidDisplay(shown, start, m_currentPage);
}

void DKIconSwitcherViewController::scrollViewDidEndDecelerating(plat::ui::ScrollView& scrollView) {
    const double w = scrollView.frame().width;
    if (w <= 0) return;
    const double page = std::floor((scrollView.contentOffset().x - w / 2) / w) + 1;
    // An offset far past the content (set by a program or the input script) is still a page past
    // the items: held to the item count, the page stays a number and its first slot cannot wrap.
    const double last = static_cast<double>(slotCount());
    const unsigned shown = page > 0 ? static_cast<unsigned>(std::min(page, last)) : 0;
    if (shown == m_currentPage) return;
    m_currentPage = shown;
    iconsDidDisplayWithStartingSlot(shown * m_iconsPerPage, m_iconsPerPage);
}

void DKIconSwitcherViewController::buttonPressed(Button& button) {
    const long slot = button.tag();
    if (slot < static_cast<long>(m_featureTextIconSpan) || slot >= static_cast<long>(slotCount())) return;
    // Held: the delegate may let the strip go.
    auto keep = std::static_pointer_cast<DKIconSwitcherViewController>(shared_from_this());
    const std::shared_ptr<DKIconSwitcherItem> item = m_items[static_cast<size_t>(slot - m_featureTextIconSpan)];
    if (auto delegate = m_delegate.lock())
        delegate->iconSwitcher(*this, *item, static_cast<unsigned>(slot), m_currentPage);
}

void DKIconSwitcherViewController::iconSwitcher(DKIconSwitcherViewController&, const DKIconSwitcherItem& item) {
    plat::ui::Application* app = plat::ui::Application::shared();
    if (!app || !item.targetURL || !app->canOpenURL(*item.targetURL)) return;
    if (!app->openURL(*item.targetURL)) plat::foundation::log("Could not open URL.");
}

void DKIconSwitcherViewController::presentWithStyle(int) {
    const plat::ui::Application* app = plat::ui::Application::shared();
    plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    plat::ui::ViewController* root = window ? window->rootViewController() : nullptr;
    if (!root) return;
    auto self = std::static_pointer_cast<DKIconSwitcherViewController>(shared_from_this());
    root->addChildViewController(self);
    root->view()->addSubview(view());
    root->view()->bringSubviewToFront(view().get());
    m_onScreen = true;
    current() = self;
    plat::foundation::tracef(promoTrace(), "present %zu", m_items.size());
    presentView(true);

    std::weak_ptr<DKIconSwitcherViewController> weak = self;
    if (m_intervalForAutomaticDismissal > 0) {
        m_dismissalIntervalHasPassed = false;
        m_automaticDismissal = m_loop.addTimer(m_intervalForAutomaticDismissal, [weak] {
            if (auto strip = weak.lock()) strip->dismissWithReason(kDismissTimeout);
        });
    } else {
        m_dismissalIntervalHasPassed = true;
    }
    m_dismissButtonPresentationIntervalHasPassed = false;
    m_visibleDismissButton->setHidden(true);
    m_intervalForDismissalButton = kDismissalButtonInterval;
    m_dismissalButtonTimer = m_loop.addTimer(kDismissalButtonInterval, [weak] {
        if (auto strip = weak.lock()) strip->showDismissalButton();
    });
}

void DKIconSwitcherViewController::presentView(bool animated) {
    // The bar slides up from below the bottom edge while the strip fades in.
    viewWillLayoutSubviews();
    view()->setAlpha(0);
    m_containerForScrollView->setFrame(offscreenRectForCurrentState());
    auto show = [this] {
        m_containerForScrollView->setFrame(appropriateRectForCurrentState());
        view()->setAlpha(1.0);
    };
    if (animated)
        View::animate({"Present DKIconSwitcher", 0.4, plat::ui::AnimationCurve::EaseInOut}, show);
    else
        show();
}

void DKIconSwitcherViewController::showDismissalButton() {
    m_dismissButtonPresentationIntervalHasPassed = true;
    m_visibleDismissButton->setHidden(false);
}

void DKIconSwitcherViewController::dismissWithReason(unsigned reason) {
    if (!m_onScreen) return;
    m_onScreen = false;
    m_dismissalIntervalHasPassed = true;
    m_automaticDismissal.invalidate();
    m_dismissalButtonTimer.invalidate();
    // Held to the end: leaving the parent may drop the last reference.
    auto self = std::static_pointer_cast<DKIconSwitcherViewController>(shared_from_this());
    std::weak_ptr<DKIconSwitcherViewController> weak = self;
    View::animate(
        {"Dismiss DKIconSwitcher", plat::ui::kDefaultViewAnimationDuration, plat::ui::AnimationCurve::EaseInOut},
        [this] { m_containerForScrollView->setFrame(offscreenRectForCurrentState()); },
        [weak](bool finished) {
            if (auto strip = weak.lock()) strip->dismissAnimationStopped(finished);
        });
    removeCurrentViewController();
    if (current().lock() == self) current().reset();
    plat::foundation::tracef(promoTrace(), "dismiss %u", reason);
    notifyDelegateDismiss(reason);
}

void DKIconSwitcherViewController::removeCurrentViewController() {
    view()->removeFromSuperview();
    removeFromParentViewController();
}

void DKIconSwitcherViewController::notifyDelegateDismiss(unsigned reason) {
    if (auto delegate = m_delegate.lock()) delegate->iconSwitcherDidDismiss(*this, reason);
}

void DKIconSwitcherViewController::dismissAnimationStopped(bool finished) {
    if (finished) view()->removeFromSuperview();
}

void DKIconSwitcherViewController::setImage(std::shared_ptr<plat::ui::Image> image, size_t index) {
    if (m_loop.isCurrentThread()) {
        setButtonImage(image, index);
        return;
    }
    std::weak_ptr<plat::ui::ViewController> weak = weak_from_this();
    m_loop.perform([weak, image = std::move(image), index] {
        if (auto strip = std::static_pointer_cast<DKIconSwitcherViewController>(weak.lock()))
            strip->setButtonImage(image, index);
    });
}

void DKIconSwitcherViewController::setButtonImage(const std::shared_ptr<plat::ui::Image>& image, size_t index) {
    if (index >= m_items.size()) return;
    m_items[index]->image = image;
    Button* button = iconButton(m_featureTextIconSpan + static_cast<unsigned>(index));
    if (!button) return;
    for (const auto& inside : std::vector(button->subviews()))
        if (dynamic_cast<plat::ui::ActivityIndicator*>(inside.get())) inside->removeFromSuperview();
    button->setBackgroundImage(image);
    button->setNeedsDisplay();
}

std::shared_ptr<DKIconSwitcherViewController> DKIconSwitcherViewController::onScreen() {
    return current().lock();
}

void DKIconSwitcherViewController::registerInputCommands() {
    using Arguments = std::vector<std::string>;
    using Action = std::function<void()>;
    // The whole argument as a finite number, or nothing: "x" must not count as page or slot 0.
    static const auto number = [](const Arguments& args) -> std::optional<double> {
        if (args.empty() || args[0].empty()) return std::nullopt;
        char* end = nullptr;
        const double value = std::strtod(args[0].c_str(), &end);
        if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
        return value;
    };
    plat::foundation::registerServiceCommand("promo.page", [](const Arguments& args) -> Action {
        auto strip = onScreen();
        const std::optional<double> given = number(args);
        if (!strip || !given) return nullptr;
        return [strip, page = *given] {
            plat::ui::ScrollView& scroll = *strip->scrollView();
            scroll.setContentOffset({page * scroll.bounds().width, 0});
            strip->scrollViewDidEndDecelerating(scroll);
        };
    });
    plat::foundation::registerServiceCommand("promo.tap", [](const Arguments& args) -> Action {
        auto strip = onScreen();
        const std::optional<double> given = number(args);
        if (!strip || !given || *given < 0 || *given != std::floor(*given) ||
            *given >= static_cast<double>(strip->featureTextIconSpan() + strip->items().size()))
            return nullptr;
        const auto slot = static_cast<unsigned>(*given);
        if (!strip->iconButton(slot)) return nullptr;
        return [strip, slot] {
            if (Button* b = strip->iconButton(slot)) b->sendActions();
        };
    });
    plat::foundation::registerServiceCommand("promo.close", [](const Arguments&) -> Action {
        auto strip = onScreen();
        if (!strip || strip->closeButton()->isHidden()) return nullptr;
        return [strip] { strip->closeButton()->sendActions(); };
    });
    plat::foundation::registerServiceCommand("promo.dim", [](const Arguments&) -> Action {
        auto strip = onScreen();
        if (!strip) return nullptr;
        return [strip] { strip->dimmedArea()->sendActions(); };
    });
}
