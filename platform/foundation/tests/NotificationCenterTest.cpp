// Notifications: matching and order, changes during a post, duplicates, other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

namespace {

using plat::foundation::Notification;
using plat::foundation::NotificationCenter;
using plat::foundation::Observation;
using plat::foundation::Sender;
using plat::foundation::Value;

int senderX, senderY;  // two posting objects

class NotificationCenterTest : public ::testing::Test {
protected:
    NotificationCenter center;
    std::vector<std::string> calls;

    // Registers `tag` as an observer of (name, sender); each call appends the tag.
    void add(const std::string& tag, const std::string& name, const void* sender) {
        center.addObserver(tagged(tag), name, sender,
                           [this, tag](const Notification&) { calls.push_back(tag); });
    }
    // A stable address per tag, standing for an observing object.
    const void* tagged(const std::string& tag) { return &m_observers[tag]; }
    std::vector<std::string> post(const std::string& name, const void* sender) {
        calls.clear();
        center.post(name, Sender{sender, "Poster"});
        return calls;
    }

private:
    std::map<std::string, char> m_observers;
};

using Calls = std::vector<std::string>;

TEST_F(NotificationCenterTest, DeliversInRegistrationOrderByNameAndSender) {
    add("any", "", nullptr);
    add("A", "A", nullptr);
    add("A from X", "A", &senderX);
    add("all from Y", "", &senderY);
    add("B", "B", nullptr);
    add("A", "A", nullptr);  // registered twice: called twice
    const struct {
        const char* name;
        const void* sender;
        Calls expected;
    } cases[] = {
        {"A", &senderX, {"any", "A", "A from X", "A"}},
        {"A", &senderY, {"any", "A", "all from Y", "A"}},
        {"A", nullptr, {"any", "A", "A"}},
        {"B", &senderY, {"any", "all from Y", "B"}},
        {"C", nullptr, {"any"}},
    };
    for (const auto& c : cases) EXPECT_EQ(post(c.name, c.sender), c.expected) << c.name;
}

TEST_F(NotificationCenterTest, RemovalTakesTheObserversMatchingRegistrations) {
    const struct {
        const char* name;
        const void* sender;
        Calls left;
    } cases[] = {
        {"", nullptr, {"other", "other"}},
        {"A", nullptr, {"other", "other", "B"}},
        {"A", &senderY, {"A from X", "other", "other", "B"}},
        {"", &senderX, {"other", "A from Y", "other", "B"}},
    };
    for (const auto& c : cases) {
        center.removeObserver(tagged("o"));
        center.removeObserver(tagged("other"));
        auto byO = [this](const char* call) {
            return [this, call](const Notification&) { calls.push_back(call); };
        };
        center.addObserver(tagged("o"), "A", &senderX, byO("A from X"));
        center.addObserver(tagged("o"), "A", &senderY, byO("A from Y"));
        center.addObserver(tagged("o"), "B", nullptr, byO("B"));
        add("other", "A", nullptr);
        center.removeObserver(tagged("o"), c.name, c.sender);
        calls.clear();
        center.post("A", Sender{&senderX});
        center.post("A", Sender{&senderY});
        center.post("B");
        EXPECT_EQ(calls, c.left) << c.name << (c.sender ? " with a sender" : "");
    }
}

TEST_F(NotificationCenterTest, ChangesDuringAPostAffectOnlyWhatFollows) {
    Observation third;
    center.addObserver(tagged("first"), "N", nullptr, [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(tagged("second"));  // not called afterwards
        if (!third.isActive())
            third = center.observe("N", nullptr, [&](const Notification&) { calls.push_back("third"); });
    });
    add("second", "N", nullptr);
    EXPECT_EQ(post("N", nullptr), (Calls{"first"}));  // "third" came after the post began
    EXPECT_EQ(post("N", nullptr), (Calls{"first", "third"}));
    third.remove();
    EXPECT_EQ(post("N", nullptr), (Calls{"first"}));
}

TEST_F(NotificationCenterTest, PostsOnOtherThreadsRunThereAndRemovalWaitsForThem) {
    std::promise<void> entered, release;
    std::atomic<bool> finished{false};
    std::thread::id ranOn;
    center.addObserver(tagged("slow"), "N", nullptr, [&](const Notification& note) {
        ranOn = std::this_thread::get_id();
        EXPECT_EQ(std::string(note.sender.className), "Worker");
        EXPECT_EQ(note.userInfo, Value(Value::Dictionary{{"status", 2}}));
        entered.set_value();
        release.get_future().wait();
        finished = true;
    });
    std::thread poster([&] { center.post("N", Sender{&senderX, "Worker"}, Value::Dictionary{{"status", 2}}); });
    std::thread::id posterId = poster.get_id();
    entered.get_future().wait();
    bool finishedWhenRemoved = false;
    std::thread remover([&] {
        center.removeObserver(tagged("slow"));
        finishedWhenRemoved = finished;
    });
    release.set_value();
    remover.join();
    poster.join();
    EXPECT_TRUE(finishedWhenRemoved);
    EXPECT_EQ(ranOn, posterId);
}

TEST_F(NotificationCenterTest, ConcurrentPostsAndRegistrationsKeepCountsExact) {
    std::atomic<int> delivered{0};
    Observation steady = center.observe("N", nullptr, [&](const auto&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                Observation passing = center.observe("N", nullptr, [](const auto&) {});
                center.post("N");
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(delivered, 800);
}

}  // namespace
