#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "platform/sys/WholeFile.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;
using dktest::readFile;
using dktest::writeFile;

// Runs `check` in a child process: its answer is its exit status.
bool childSees(const std::function<bool()>& check) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) _exit(check() ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class UserDefaultsTest : public ::testing::Test {
protected:
    dktest::TempDir m_dir;
    std::string m_path = m_dir.file("com.test.game.plist");
};

TEST_F(UserDefaultsTest, ViewsOfWhatIsStored) {
    UserDefaults defaults(m_path);
    defaults.setObject("  12abc", "text");
    defaults.setDouble(2.5, "real");
    defaults.setBool(true, "flag");
    defaults.setInteger(-4, "count");
    defaults.setObject(Data{1, 2}, "bytes");
    struct Case {
        const char* key;
        bool b;
        int64_t i;
        double d;
        std::optional<std::string> s;
    } cases[] = {
        {"text", true, 12, 12, "  12abc"},
        {"real", true, 2, 2.5, "2.5"},
        {"flag", true, 1, 1, "1"},
        {"count", true, -4, -4, "-4"},
        {"bytes", false, 0, 0, std::nullopt},
        {"absent", false, 0, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(defaults.boolForKey(c.key), c.b);
        EXPECT_EQ(defaults.integerForKey(c.key), c.i);
        EXPECT_EQ(defaults.doubleForKey(c.key), c.d);
        EXPECT_EQ(defaults.stringForKey(c.key), c.s);
    }
    defaults.setObject(Value(), "text");
    defaults.removeObjectForKey("real");
    EXPECT_FALSE(defaults.objectForKey("text"));
    EXPECT_EQ(defaults.dictionaryRepresentation().size(), 3u);
}

TEST_F(UserDefaultsTest, RefusesWhatCannotBeStoredAndKeepsWriting) {
    UserDefaults defaults(m_path);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.setObject(Value::Array{Value()}, "with null"));
    EXPECT_FALSE(defaults.setObject(std::string("a\0b", 3), "with nul"));
    EXPECT_FALSE(defaults.setObject(1, std::string("k\0", 2)));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not set for key \"with null\""), std::string::npos) << err;
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    defaults.setInteger(1, "fine");
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(UserDefaults(m_path).integerForKey("fine"), 1);
}

TEST_F(UserDefaultsTest, AChildProcessSeesWhatWasSynchronized) {
    UserDefaults defaults(m_path);
    defaults.setObject(dktest::everyKind(), "everything");
    defaults.setObject("\u00e9t\u00e9", "season");
    auto childReads = [&] {
        return childSees([&] {
            UserDefaults other(m_path);
            return other.objectForKey("everything") == dktest::everyKind() && other.stringForKey("season") == "\u00e9t\u00e9";
        });
    };
    EXPECT_FALSE(childReads());
    Error error;
    ASSERT_TRUE(defaults.synchronize(&error)) << error.message;
    EXPECT_TRUE(childReads());
    EXPECT_TRUE(readFile(m_path).starts_with("<?xml"));
}

TEST_F(UserDefaultsTest, AWriterKilledMidWriteLeavesTheOldFile) {
    {
        UserDefaults defaults(m_path);
        defaults.setObject("old", "key");
    }  // written as it goes
    const std::string old = readFile(m_path);
    ASSERT_FALSE(old.empty());
    UserDefaults defaults(m_path);
    defaults.setObject(Data(200000, 0x42), "big");
    ASSERT_TRUE(dktest::killedMidWrite([&] { defaults.synchronize(); }));
    EXPECT_EQ(readFile(m_path), old);
    EXPECT_EQ(UserDefaults(m_path).stringForKey("key"), "old");
}

TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideAndTheDefaultsStartEmpty) {
    const std::string xml = *serializePropertyList(Value::Dictionary{{"key", "value"}}, PropertyListFormat::Xml);
    const std::pair<const char*, std::string> cases[] = {
        {"garbage", "garbage\n"},
        {"cut short", xml.substr(0, xml.size() - 20)},
        {"no dictionary", *serializePropertyList(Value::Array{1}, PropertyListFormat::Binary)},
    };
    for (const auto& [label, contents] : cases) {
        SCOPED_TRACE(label);
        writeFile(m_path, contents);
        testing::internal::CaptureStderr();
        UserDefaults defaults(m_path);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
        EXPECT_FALSE(dktest::exists(m_path));
        EXPECT_EQ(readFile(m_path + ".bad"), contents);
        EXPECT_NE(err.find(m_path + ".bad"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        defaults.setBool(true, "fresh");
        EXPECT_TRUE(defaults.synchronize());
        EXPECT_TRUE(UserDefaults(m_path).boolForKey("fresh"));
        EXPECT_EQ(readFile(m_path + ".bad"), contents);
        std::filesystem::remove(m_path);
        std::filesystem::remove(m_path + ".bad");  // the next case's copy takes the first name again
    }
}


// A FIFO blocked the open for ever and /dev/zero or a file over the cap grew without end: each is
// named in one line, left where it is and not written over.
TEST_F(UserDefaultsTest, APreferencesFileThatIsNoFileOrTooLargeIsLeftAlone) {
    const struct {
        const char* label;
        std::function<void()> make;
        std::string why;
    } cases[] = {
        {"FIFO", [&] { ASSERT_EQ(mkfifo(m_path.c_str(), 0600), 0); }, "not a file (a FIFO)"},
        {"device", [&] { std::filesystem::create_symlink("/dev/zero", m_path); }, "not a file (a character device)"},
        {"too large",
         [&] {
             writeFile(m_path, "");
             std::filesystem::resize_file(m_path, plat::sys::kPreferencesCap.bytes + 1);
         },
         "over 64 MiB, the most a preferences file may hold"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        c.make();
        {
            testing::internal::CaptureStderr();
            UserDefaults defaults(m_path);
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      "UserDefaults: " + m_path + ": " + c.why + "; it will not be written over\n");
            EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
            defaults.setBool(true, "fresh");
            Error error;
            EXPECT_FALSE(defaults.synchronize(&error));
            EXPECT_EQ(error.message, m_path + ": not written over, as it could not be read");
            testing::internal::CaptureStderr();  // its last write, refused the same way
        }
        testing::internal::GetCapturedStderr();
        EXPECT_FALSE(dktest::exists(m_path + ".bad"));
        std::filesystem::remove(m_path);
    }
}

// A file damaged again after the first was moved aside: each damaged copy is kept.
TEST_F(UserDefaultsTest, EveryDamagedFileIsKeptAside) {
    const std::string damaged[] = {"first damage\n", "second damage\n", "third damage\n"};
    const std::string aside[] = {m_path + ".bad", m_path + ".bad.2", m_path + ".bad.3"};
    for (const std::string& contents : damaged) {
        writeFile(m_path, contents);
        testing::internal::CaptureStderr();
        UserDefaults defaults(m_path);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readFile(aside[i]), damaged[i]);
}

// Two processes on one file, each setting keys of its own and one they share and synchronizing
// after each: the file ends with every key of both, and the shared one with one's last value.
// Each process either keeps one defaults object for its run (a player) or makes one per change
// (a `dk-util defaults set` each).
TEST_F(UserDefaultsTest, TwoProcessesOnOneFileKeepEachOthersKeys) {
    const int kSets = 150;
    for (const bool perChange : {false, true}) {
        SCOPED_TRACE(perChange ? "an object per change" : "one object for the run");
        std::filesystem::remove(m_path);
        const std::vector<int> statuses = dktest::sideBySide(2, [&](int id, const std::function<void()>& go) {
            go();
            std::optional<UserDefaults> defaults;
            bool written = true;
            for (int i = 0; i < kSets; ++i) {
                if (perChange || !defaults) defaults.emplace(m_path);
                defaults->setInteger(i, "p" + std::to_string(id) + "_" + std::to_string(i));
                defaults->setObject(std::to_string(id) + ":" + std::to_string(i), "shared");
                written = defaults->synchronize() && written;
            }
            return written ? 0 : 1;
        });
        EXPECT_EQ(statuses, std::vector<int>({0, 0}));
        const Value::Dictionary file = UserDefaults(m_path).dictionaryRepresentation();
        int kept = 0;
        for (int id = 0; id < 2; ++id)
            for (int i = 0; i < kSets; ++i) {
                auto it = file.find("p" + std::to_string(id) + "_" + std::to_string(i));
                kept += it != file.end() && it->second == Value(int64_t(i));
            }
        EXPECT_EQ(kept, 2 * kSets);
        auto shared = file.find("shared");
        ASSERT_NE(shared, file.end());
        EXPECT_TRUE(shared->second == Value("0:149") || shared->second == Value("1:149"))
            << shared->second.canonicalJSON();
    }
}

// What another process synchronized shows in this one's defaults after its own synchronize, and
// a key this one removed stays removed though the file still held it.
TEST_F(UserDefaultsTest, ASynchronizeTakesInWhatAnotherProcessWrote) {
    UserDefaults mine(m_path);
    mine.setObject("mine", "a");
    mine.setObject("doomed", "b");
    ASSERT_TRUE(mine.synchronize());
    ASSERT_TRUE(childSees([&] {
        UserDefaults theirs(m_path);
        theirs.setObject("theirs", "c");
        return theirs.synchronize();
    }));
    mine.removeObjectForKey("b");
    ASSERT_TRUE(mine.synchronize());
    EXPECT_EQ(Value(mine.dictionaryRepresentation()), Value(Value::Dictionary{{"a", "mine"}, {"c", "theirs"}}));
    EXPECT_EQ(Value(UserDefaults(m_path).dictionaryRepresentation()), Value(mine.dictionaryRepresentation()));
}

TEST_F(UserDefaultsTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    std::filesystem::create_directories(m_path);
    testing::internal::CaptureStderr();
    UserDefaults defaults(m_path);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(m_path), std::string::npos);
    defaults.setBool(true, "x");
    Error error;
    EXPECT_FALSE(defaults.synchronize(&error));
    EXPECT_NE(error.message.find(m_path), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
}

TEST_F(UserDefaultsTest, ThreadsShareOneStore) {
    UserDefaults defaults(m_path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 300; ++i) {
                const std::string key = std::to_string(t) + "-" + std::to_string(i);
                defaults.setInteger(i, key);
                EXPECT_EQ(defaults.integerForKey(key), i);
                if (i % 50 == 0) defaults.synchronize();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(UserDefaults(m_path).dictionaryRepresentation().size(), 8u * 300u);
}

// Before any main container there are no standard defaults: checked in a fresh run of this
// program, since earlier tests in this one may have set theirs.
TEST_F(UserDefaultsTest, TheStandardDefaultsLiveInTheMainContainer) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const auto fail = [](const char* why) {
                std::fprintf(stderr, "%s\n", why);
                std::exit(1);
            };
            if (UserDefaults::standard()) fail("standard defaults before a main container");
            std::optional<Container> container = Container::open("com.test.game", m_dir.file("home"));
            if (!container) fail("no container");
            Container::setMain(*container);
            UserDefaults* standard = UserDefaults::standard();
            if (!standard || standard != UserDefaults::standard()) fail("not one standard defaults");
            if (standard->path() != m_dir.file("home/Library/Preferences/com.test.game.plist")) fail(standard->path().c_str());
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// A second start in the process, on another home, reads and writes its own file; the first
// start's defaults stay usable through the pointer it kept, and are found again as they were left.
TEST_F(UserDefaultsTest, EachMainContainerHasItsOwnStandardDefaults) {
    std::optional<Container> first = Container::open("com.test.game", m_dir.file("first"));
    std::optional<Container> second = Container::open("com.test.game", m_dir.file("second"));
    std::optional<Container> other = Container::open("com.test.other", m_dir.file("first"));
    ASSERT_TRUE(first && second && other);

    Container::setMain(*first);
    UserDefaults* one = UserDefaults::standard();
    ASSERT_NE(one, nullptr);
    one->setObject("first", "home");

    Container::setMain(*second);
    UserDefaults* two = UserDefaults::standard();
    ASSERT_NE(two, nullptr);
    EXPECT_NE(two, one);
    EXPECT_EQ(two->path(), m_dir.file("second/Library/Preferences/com.test.game.plist"));
    EXPECT_EQ(two->stringForKey("home"), std::nullopt);
    two->setObject("second", "home");
    ASSERT_TRUE(two->synchronize());
    EXPECT_EQ(one->stringForKey("home"), "first");
    ASSERT_TRUE(one->synchronize());

    // Another game in the first home: the file is named after it.
    Container::setMain(*other);
    EXPECT_EQ(UserDefaults::standard()->path(), m_dir.file("first/Library/Preferences/com.test.other.plist"));

    Container::setMain(*first);
    EXPECT_EQ(UserDefaults::standard(), one);
    EXPECT_EQ(UserDefaults::standard()->stringForKey("home"), "first");
    EXPECT_EQ(UserDefaults(m_dir.file("second/Library/Preferences/com.test.game.plist")).stringForKey("home"),
              "second");
}

// The defaults' lock is not followed through a link: a dangling one at its name made its target
// (outside the home) when the defaults were written. The write fails, saying why.
TEST_F(UserDefaultsTest, TheLockIsNeverFollowedThroughALink) {
    std::filesystem::create_symlink(m_dir.file("outside/made"), m_dir.file(".lock"));
    std::filesystem::create_directory(m_dir.file("outside"));
    UserDefaults defaults(m_path);
    defaults.setBool(true, "x");
    Error error;
    EXPECT_FALSE(defaults.synchronize(&error));
    EXPECT_NE(error.message.find(m_dir.file(".lock") + ": a symbolic link, not followed"), std::string::npos)
        << error.message;
    EXPECT_FALSE(dktest::exists(m_dir.file("outside/made")));
}

// A lock that cannot be had (a link or a folder at its name) keeps the defaults unwritten: with no
// caller to take the error, that is said, once however often the write is tried.
TEST_F(UserDefaultsTest, AWriteALockKeepsOutIsSaidOnce) {
    const std::string lock = m_dir.file(".lock");
    for (const std::string why : {"a symbolic link, not followed", "Is a directory"}) {
        std::filesystem::remove(lock);
        if (why == "Is a directory")
            std::filesystem::create_directory(lock);
        else
            std::filesystem::create_symlink(m_dir.file("elsewhere"), lock);
        testing::internal::CaptureStderr();
        {
            UserDefaults defaults(m_path);
            defaults.setBool(true, "firstLaunch");
            EXPECT_FALSE(defaults.synchronize());
            EXPECT_FALSE(defaults.synchronize());
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "UserDefaults: " + m_path + ": not written, as its lock cannot be taken: " + lock + ": " +
                      why + "\n");
    }
}

// Another process holds the defaults' lock without end: the wait is said once, and a SIGTERM
// (blocked, as the player blocks it) ends it after that; the file is read all the same, and a
// write then fails at once, keeps its changes and says so.
TEST_F(UserDefaultsTest, AQuitEndsTheWaitOnALockHeldElsewhere) {
    UserDefaults(m_path).setObject("kept", "a");
    int held[2], release[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    std::fflush(nullptr);
    const pid_t holder = fork();
    if (holder == 0) {
        ::close(release[1]);
        const int fd = ::open(m_dir.file(".lock").c_str(), O_RDWR | O_CREAT, 0600);
        (void)!flock(fd, LOCK_EX);
        (void)!write(held[1], "!", 1);
        char c;
        while (read(release[0], &c, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    ::close(release[0]);
    char c;
    ASSERT_EQ(read(held[0], &c, 1), 1);
    testing::internal::CaptureStderr();
    std::atomic<bool> started{false}, done{false};
    std::optional<Value> loaded;
    bool written = true;
    std::thread reader([&] {
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &term, nullptr);
        started = true;
        UserDefaults defaults(m_path);
        loaded = defaults.objectForKey("a");
        defaults.setObject("later", "b");
        written = defaults.synchronize();
        done = true;
        const timespec now{};
        sigtimedwait(&term, nullptr, &now);  // the signal was this test's alone
    });
    while (!started) std::this_thread::yield();
    pthread_kill(reader.native_handle(), SIGTERM);
    const bool endedByTheQuit = dktest::waitUntil([&] { return done.load(); }, 60);
    ::close(release[1]);
    waitpid(holder, nullptr, 0);
    reader.join();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(endedByTheQuit);
    EXPECT_EQ(loaded, Value("kept"));
    EXPECT_FALSE(written);
    EXPECT_EQ(said, m_dir.file(".lock") + " is locked by another process; waiting for it\n" +
                        "UserDefaults: " + m_path + ": not written, as its lock cannot be taken: " +
                        m_dir.file(".lock") + ": locked by another process\n");
}

}  // namespace
