// The shared device identifier against slots seeded through the pasteboard layer.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kiosk/udid/SharedUDID.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Error;
using plat::foundation::Pasteboard;
using plat::foundation::UserDefaults;
using plat::foundation::Value;

std::string slot(int i) { return SharedUDID::kSlotStem + std::to_string(i); }
std::string id(char c) { return std::string(40, c); }

class SharedUDIDTest : public ::testing::Test {
protected:
    // A new installation (the table-driven cases call it again for each case).
    void SetUp() override {
        home.emplace();
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.udid-test", home->path()));
        Pasteboard::setDirectory(boards.path());
        SharedUDID::setWallClock([] { return 1700000000.0; });
    }
    void TearDown() override { Pasteboard::setDirectory({}); }

    // Another application's copy in slot i.
    static void seed(int i, const std::string& identifier, Value::Dictionary extra = {}) {
        extra["SharedUDID"] = Value(identifier);
        ASSERT_TRUE(SharedUDID::setDictForPasteboard(extra, slot(i)));
        Pasteboard::named(slot(i), false)->setPersistent(true);
    }
    static Value::Dictionary stored() {
        std::optional<Value> value = UserDefaults::standard()->objectForKey("SharedUDID");
        return value && value->dictionary() ? *value->dictionary() : Value::Dictionary{};
    }
    static std::string valueReporting(int& code, std::string& text) {
        Error error;
        std::string value = SharedUDID::valueWithError(&error);
        code = error.code;
        text = error.message;
        EXPECT_EQ(error.domain, "com.drovik.sharedudid");
        return value;
    }

    std::optional<dktest::TempDir> home;
    dktest::TempDir boards;
};

TEST_F(SharedUDIDTest, FirstUseOnAnEmptyDeviceMakesAndSharesOne) {
    int code;
    std::string text;
    const std::string value = valueReporting(code, text);
    EXPECT_EQ(value.size(), 40u);
    EXPECT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text, "SharedUDID succesfully retrieved");
    Value::Dictionary dict = stored();
    EXPECT_EQ(dict["SharedUDID"], Value(value));
    EXPECT_EQ(dict["SharedUDID_slot"], Value(slot(0)));
    EXPECT_TRUE(dict["SharedUDID_appUID"].string());
    EXPECT_TRUE(dict["SharedUDID_createdTS"].date());
    EXPECT_TRUE(Pasteboard::named(slot(0), false)->persistent());
    EXPECT_EQ(SharedUDID::dictFromPasteboard(slot(0)), dict);

    EXPECT_EQ(valueReporting(code, text), value);
    EXPECT_EQ(text, "SharedUDID in cache from first call");
    EXPECT_NE(SharedUDID::generateFreshSharedUDID(), value);
}

// A second start in the process, on another home of the same device, keeps no identifier of the
// first: it reads the device's copies, records its own installation and takes a slot of its own.
TEST_F(SharedUDIDTest, ASecondStartOnAnotherHomeRecordsItsOwnInstallation) {
    const std::string first = SharedUDID::value();
    const Value::Dictionary firstRecord = stored();

    dktest::TempDir other;
    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.udid-test", other.path()));
    int code;
    std::string text;
    EXPECT_EQ(valueReporting(code, text), first);
    EXPECT_EQ(text, "SharedUDID succesfully retrieved");
    Value::Dictionary record = stored();
    EXPECT_EQ(record["SharedUDID"], Value(first));
    EXPECT_EQ(record["SharedUDID_slot"], Value(slot(1)));
    EXPECT_NE(record["SharedUDID_appUID"], firstRecord.at("SharedUDID_appUID"));

    // On a device of its own it makes another.
    dktest::TempDir device;
    Pasteboard::setDirectory(device.path());
    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.udid-test", device.file("home")));
    EXPECT_NE(SharedUDID::value(), first);

    Pasteboard::setDirectory(boards.path());
    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.udid-test", home->path()));
    EXPECT_EQ(valueReporting(code, text), first);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(stored(), firstRecord);
}

TEST_F(SharedUDIDTest, TheMajorityWinsTiesGoToTheLaterSlots) {
    struct Case {
        const char* name;
        std::vector<char> slots;  // identifier per slot from 0; '-' leaves the slot free
        char expected;
        int claimed;
    };
    const Case cases[] = {
        {"three A, one B", {'a', 'b', 'a', 'a'}, 'a', 4},
        {"a tie: the last in slot order", {'a', 'a', 'b', 'b'}, 'b', 4},
        {"a tie the other way", {'b', 'b', 'a', 'a'}, 'a', 4},
        {"a gap is the free slot", {'c', '-', 'c', 'd'}, 'c', 1},
    };
    for (const Case& c : cases) {
        SetUp();
        dktest::TempDir fresh;
        Pasteboard::setDirectory(fresh.path());
        for (std::size_t i = 0; i < c.slots.size(); ++i)
            if (c.slots[i] != '-') seed(static_cast<int>(i), id(c.slots[i]));
        int code;
        std::string text;
        EXPECT_EQ(valueReporting(code, text), id(c.expected)) << c.name;
        EXPECT_EQ(code, 0) << c.name;
        EXPECT_EQ(stored()["SharedUDID_slot"], Value(slot(c.claimed))) << c.name;
    }
}

TEST_F(SharedUDIDTest, AStoredIdentifierWinsAndADiscrepancyIsReported) {
    UserDefaults::standard()->setObject(Value(Value::Dictionary{{"SharedUDID", Value(id('c'))}}), "SharedUDID");
    for (int i = 0; i < 3; ++i) seed(i, id('a'));
    int code;
    std::string text;
    EXPECT_EQ(valueReporting(code, text), id('c'));
    EXPECT_EQ(code, 2);
    EXPECT_EQ(text, "Found a discrepancy between stored SharedUDID (reliable) and redundant copies; one of the apps on "
                    "the device is most likely corrupting the SharedUDID protocol");
    EXPECT_EQ(SharedUDID::dictFromPasteboard(slot(3))["SharedUDID"], Value(id('c')));
}

TEST_F(SharedUDIDTest, GarbageSlotsCountAsFree) {
    dktest::writeFile(boards.path() + "/" + Pasteboard::fileNameFor(slot(0)), "not a property list");
    Pasteboard::named(slot(1), true)->setData({1, 2, 3}, SharedUDID::kScheme);
    Pasteboard::named(slot(1), false)->setPersistent(true);
    Pasteboard::named(slot(2), true)->setPersistent(true);
    SharedUDID::setDictForPasteboard({{"SharedUDID", Value(7)}}, slot(2));
    seed(3, id('e'));
    EXPECT_EQ(SharedUDID::value(), id('e'));
    EXPECT_EQ(stored()["SharedUDID_slot"], Value(slot(0)));
    EXPECT_EQ(SharedUDID::dictFromPasteboard(slot(0))["SharedUDID"], Value(id('e')));
}

TEST_F(SharedUDIDTest, OnlyFortyLowerCaseHexDigitsVote) {
    const std::string shapes[] = {
        "\"><script>alert(1)</script>",
        std::string(40, 'A'),           // upper case
        std::string(39, 'a'),           // one short
        std::string(41, 'a'),           // one long
        std::string(39, 'a') + "g",     // not hex
        std::string(20, 'a') + " " + std::string(19, 'a'),
    };
    for (const std::string& foreign : shapes) {
        SetUp();
        dktest::TempDir fresh;
        Pasteboard::setDirectory(fresh.path());
        // Outnumbering the one well-formed copy: were it counted, it would win.
        for (int i = 0; i < 3; ++i) seed(i, foreign);
        seed(3, id('e'));
        EXPECT_EQ(SharedUDID::value(), id('e')) << foreign;
        // A slot holding no identifier of ours is free: the first is claimed.
        EXPECT_EQ(stored()["SharedUDID_slot"], Value(slot(0))) << foreign;
        EXPECT_EQ(SharedUDID::dictFromPasteboard(slot(0))["SharedUDID"], Value(id('e'))) << foreign;
    }
    // Nothing but foreign copies: a fresh identifier of our own.
    SetUp();
    dktest::TempDir fresh;
    Pasteboard::setDirectory(fresh.path());
    seed(0, shapes[0]);
    const std::string value = SharedUDID::value();
    EXPECT_EQ(value.size(), 40u);
    EXPECT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos) << value;
}

TEST_F(SharedUDIDTest, AllHundredSlotsTakenKeepsNoCopy) {
    for (int i = 0; i < SharedUDID::kSlotCount; ++i) seed(i, id(i < 60 ? 'a' : 'b'));
    int code;
    std::string text;
    EXPECT_EQ(valueReporting(code, text), id('a'));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(stored().contains("SharedUDID_slot"));
    EXPECT_EQ(stored()["SharedUDID"], Value(id('a')));
}

TEST_F(SharedUDIDTest, OptingOutAndBack) {
    const std::string value = SharedUDID::value();
    SharedUDID::setOptOut(true);
    int code;
    std::string text;
    EXPECT_EQ(valueReporting(code, text), std::string(40, '0'));
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(text.starts_with("Application with unique id ")) << text;
    EXPECT_TRUE(text.ends_with(" is opted-out from SharedUDID as of 2023-11-14 22:13:20 +0000")) << text;
    EXPECT_EQ(valueReporting(code, text), std::string(40, '0'));  // from the cache
    SharedUDID::setOptOut(false);
    EXPECT_EQ(valueReporting(code, text), value);
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(stored().contains("SharedUDID_optOutTS"));
}

}  // namespace
