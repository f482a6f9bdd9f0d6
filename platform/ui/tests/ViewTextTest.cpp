// Text from outside in every text view: held as UTF-8 with no NUL whatever bytes a game gives, so
// typing, deleting, selecting and drawing never index past the text.
#include <cairo.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/ui/ActionSheet.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Bars.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextMeasure.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewText.h"

namespace {

using namespace plat::ui;
using namespace std::string_literals;

const std::string kFFFD = "\xEF\xBF\xBD";

// Bytes a game might hand over: characters of one to four bytes, NULs, stray continuation bytes,
// cut, overlong and surrogate sequences, bytes that never start a character, and any byte at all.
std::string randomBytes(std::mt19937& rng, size_t most) {
    static const std::vector<std::string> pieces = {
        "a", "Z", " ", "\n", "\r\n", "\0"s, "\xc3\xa9", "e\xcc\x81", "\xe4\xbd\xa0",
        "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7", "\x80", "\xbf", "\xc3", "\xe4\xbd", "\xed\xa0\x80", "\xc0\xaf",
        "\xf4\x90\x80\x80", "\xff", "\xfe",
    };
    std::uniform_int_distribution<size_t> count(0, most), pick(0, pieces.size()), byte(0, 255);
    std::string bytes;
    for (size_t n = count(rng); n > 0; --n) {
        const size_t p = pick(rng);
        bytes += p == pieces.size() ? std::string(1, static_cast<char>(byte(rng))) : pieces[p];
    }
    return bytes;
}

// Every view in the tree drawn once into a picture of its own size, as the compositor would.
void drawTree(View& view) {
    if (view.drawsContent()) {
        const Rect b = view.bounds();
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, int(b.width)),
                                                              std::max(1, int(b.height)));
        cairo_t* cr = cairo_create(surface);
        view.draw(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    for (const auto& sub : view.subviews()) drawTree(*sub);
}

// Every text a label, button or text view in the tree holds.
void expectViewTextThroughout(View& view) {
    if (auto* label = dynamic_cast<Label*>(&view)) {
        EXPECT_TRUE(isViewText(label->text()));
    } else if (auto* button = dynamic_cast<Button*>(&view)) {
        EXPECT_TRUE(isViewText(button->title()));
    } else if (auto* text = dynamic_cast<TextView*>(&view)) {
        EXPECT_TRUE(isViewText(text->text()));
    }
    for (const auto& sub : view.subviews()) expectViewTextThroughout(*sub);
}

// Pango's own warnings (bytes it had to mend, attributes sized short) in what a run wrote to the
// standard error; GLib writes them there whatever handlers a test sets.
bool pangoWarned(const std::string& standardError) {
    return standardError.find("Pango-") != std::string::npos;
}

struct Rows : PickerViewDelegate {
    std::vector<std::string> titles;
    int numberOfRows(PickerView&) override { return static_cast<int>(titles.size()); }
    std::string titleForRow(PickerView&, int row) override { return titles[static_cast<size_t>(row)]; }
};

TEST(ViewText, EachBadByteBecomesOneReplacementAndTheRestIsKept) {
    const struct {
        std::string given, held;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"ok \xf0\x9f\x91\x8d", "ok \xf0\x9f\x91\x8d"},
        {"ab\0c"s, "ab" + kFFFD + "c"},
        {"\0\0"s, kFFFD + kFFFD},
        {"caf\xe9 au lait", "caf" + kFFFD + " au lait"},  // Latin-1
        {"\xed\xa0\x80", kFFFD + kFFFD + kFFFD},          // a surrogate
        {"\xc0\xaf/", kFFFD + kFFFD + "/"},               // an overlong slash
        {"\xe4\xbd", kFFFD + kFFFD},                      // a character cut short
        {"\xff\xc3\xa9", kFFFD + "\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isViewText(c.given), c.given == c.held) << c.held;
        EXPECT_EQ(viewText(c.given), c.held);
    }
}

TEST(TextView, AGivenNulIsACharacterBackspaceTakesWhole) {
    const struct {
        std::string given, held, afterBackspace;
    } cases[] = {
        {"ab\0"s, "ab" + kFFFD, "ab"},
        {"\0\0"s, kFFFD + kFFFD, kFFFD},
        {"x\0\xcc\x81"s, "x" + kFFFD + "\xcc\x81", "x"},  // a mark joins the replacement
        {"\xe9t\xe9\0"s, kFFFD + "t" + kFFFD + kFFFD, kFFFD + "t" + kFFFD},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        TextView view;
        view.setText(c.given);
        EXPECT_EQ(view.text(), c.held);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("text: UITextView:"), std::string::npos);
        testing::internal::CaptureStderr();
        view.deleteBackward();
        const std::string standardError = testing::internal::GetCapturedStderr();
        EXPECT_EQ(view.text(), c.afterBackspace);
        EXPECT_FALSE(pangoWarned(standardError)) << standardError;
        EXPECT_FALSE(view.appendText("\0"s)) << "typed, a NUL is refused";
        EXPECT_EQ(view.text(), c.afterBackspace);
    }
}

// Random bytes into every text setter, then typing, deleting, selecting and drawing: each view
// holds view text throughout, Backspace takes the text down by whole characters to nothing, and
// Pango never has to mend or warn.
TEST(ViewText, RandomBytesThroughEverySetterThenTypingDeletingAndSelecting) {
    constexpr unsigned kSeed = 20261207;
    std::mt19937 rng(kSeed);
    testing::internal::CaptureStderr();  // each cleaned text logs a line
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE("seed " + std::to_string(kSeed) + " round " + std::to_string(round));
        auto bytes = [&](size_t most = 12) { return randomBytes(rng, most); };

        Label label({0, 0, 120, 30});
        label.setText(bytes());
        label.setAdjustsFontSizeToFitWidth(round % 2 == 0);
        label.setMinimumFontSize(8);
        label.setNumberOfLines(round % 3);
        Button button({0, 0, 90, 30});
        button.setTitle(bytes());
        auto entry = std::make_shared<TextEntryView>(Rect{0, 0, 320, 200});
        entry->setTitle(bytes());
        auto alert = std::make_shared<AlertView>(bytes(), bytes(), std::vector{bytes(4), bytes(4)});
        alert->setFrame({0, 0, 320, 480});
        alert->layoutSubviews();
        auto sheet = std::make_shared<ActionSheet>(bytes(), nullptr, bytes(4), std::vector{bytes(4)});
        auto bar = std::make_shared<NavigationBar>();
        bar->setFrame({0, 0, 320, 44});
        bar->pushNavigationItem(std::make_shared<NavigationItem>(bytes()));
        auto segments = std::make_shared<SegmentedControl>(std::vector{bytes(4), bytes(4), bytes(4)});
        segments->sizeToFit();
        Rows rows;
        rows.titles = {bytes(), bytes(), bytes()};
        auto picker = std::make_shared<PickerView>(Rect{0, 0, 320, 216});
        picker->setDelegate(&rows);

        // Typing: good keys go in, a key with any bad byte is refused whole.
        TextView& text = *entry->textView();
        text.setFrame({0, 0, 300, 150});
        text.setText(bytes(20));
        EXPECT_TRUE(isViewText(text.text()));
        for (int key = 0; key < 4; ++key) {
            const std::string typed = bytes(3);
            const std::string before = text.text();
            EXPECT_EQ(text.appendText(typed), isViewText(typed));
            EXPECT_EQ(text.text(), isViewText(typed) ? before + typed : before);
        }
        // Selecting.
        std::uniform_int_distribution<int> index(-2, 4);
        segments->select(index(rng));
        segments->setSelectedSegmentIndex(index(rng));
        picker->selectRow(index(rng));
        picker->chooseRow(index(rng));
        for (int row = 0; row < picker->numberOfRows(); ++row)
            EXPECT_TRUE(isViewText(picker->titleForRow(row)));

        for (View* view : std::initializer_list<View*>{&label, &button, entry.get(), alert.get(), sheet.get(),
                                                       bar.get(), segments.get(), picker.get()}) {
            expectViewTextThroughout(*view);
            drawTree(*view);
        }
        measureText(label.text(), label.font(), {120, 60}, 0);
        fittingFont(rows.titles[0], Font{}, 40, 6);

        // Deleting, down to nothing: each Backspace takes a non-empty piece off the end.
        const glong characters = g_utf8_strlen(text.text().data(), static_cast<gssize>(text.text().size()));
        glong presses = 0;
        while (!text.text().empty() && presses <= characters) {
            const std::string before = text.text();
            text.deleteBackward();
            ++presses;
            EXPECT_LT(text.text().size(), before.size());
            EXPECT_EQ(before.compare(0, text.text().size(), text.text()), 0) << "what is left is a prefix";
            EXPECT_TRUE(isViewText(text.text()));
            drawTree(text);
        }
        EXPECT_TRUE(text.text().empty());
        picker->setDelegate(nullptr);
    }
    const std::string standardError = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(pangoWarned(standardError)) << standardError.substr(standardError.find("Pango-"), 300);
}

}  // namespace
