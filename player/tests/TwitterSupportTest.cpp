// The Twitter plugin's pure answers: where a message is cut, what a failed post's alert says, and
// the account picker's size.
#include <gtest/gtest.h>

#include <string>

#include "player/plugins/twitter/DKTwitterSupport.h"

namespace {

std::string repeated(const std::string& unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
}

// Lengths are UTF-16 units: "é" is one, an emoji (a surrogate pair) two, and no cut splits one.
TEST(TwitterSupportTest, MessagesAreCutInUtf16UnitsAndNeverInsideAPair) {
    const std::string emoji = "\U0001F600";
    const struct {
        const char* what;
        std::string message;
        bool withImage;
        std::string expected;
    } cases[] = {
        {"140 posted whole", repeated("a", 140), false, repeated("a", 140)},
        {"141 cut to 140", repeated("a", 141), false, repeated("a", 140)},
        {"119 with an image whole", repeated("a", 119), true, repeated("a", 119)},
        {"120 with an image cut to 119", repeated("a", 120), true, repeated("a", 119)},
        {"140 without an image is long with one", repeated("a", 140), true, repeated("a", 119)},
        {"two-byte letters count one", repeated("\u00e9", 141), false, repeated("\u00e9", 140)},
        {"a pair across the cut goes whole", repeated("a", 139) + emoji + "b", false, repeated("a", 139)},
        {"a pair before the cut stays", repeated("a", 138) + emoji + "b", false, repeated("a", 138) + emoji},
        {"pairs only", repeated(emoji, 70) + "x", false, repeated(emoji, 70)},
        {"with an image, a pair across 119", repeated("a", 118) + emoji, true, repeated("a", 118)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DKTwitterSupport::cutMessage(c.message, c.withImage), c.expected) << c.what;
    EXPECT_EQ(DKTwitterSupport::cutMessage(std::nullopt, true), std::nullopt);
}

TEST(TwitterSupportTest, FailureTextComesFromTheAnswer) {
    const std::string generic = "Error code 500: Unable to post your tweet at this time";
    const struct {
        int status;
        std::string body;
        std::optional<std::string> text;  // nullopt: the alert's default text
    } cases[] = {
        {413, "<html><body>Request Entity Too Large</body></html>", "Error code 413: Content is too large"},
        {403, R"({"error":"Status is a duplicate."})", "Status is a duplicate."},
        {500, R"({"error":42})", generic},
        {500, R"({"error":{"message":"x"}})", generic},
        {500, R"({"error":null})", generic},
        {500, R"(["error"])", generic},
        {500, R"({"errors":[]})", std::nullopt},
        {500, R"({"error":"cut)", generic},
        {500, "", generic},
        {0, "", "Error code 0: Unable to post your tweet at this time"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DKTwitterSupport::failureText(c.status, std::vector<std::uint8_t>(c.body.begin(), c.body.end())), c.text)
            << c.status << " " << c.body;
}

TEST(TwitterSupportTest, PickerIsNarrowInPortraitAndOnTablets) {
    const struct {
        int orientation;
        int idiom;
        double width;
    } cases[] = {
        {1, 0, 320}, {2, 0, 320}, {3, 0, 480}, {4, 0, 480}, {0, 0, 480}, {5, 0, 480},
        {1, 1, 320}, {3, 1, 320}, {4, 1, 320}, {3, -1, 480},
    };
    for (const auto& c : cases) {
        const plat::ui::Size size = DKAccountSelectorController::pickerSize(c.orientation, c.idiom);
        EXPECT_EQ(size.width, c.width) << c.orientation << " " << c.idiom;
        EXPECT_EQ(size.height, 216);
    }
}

}  // namespace
