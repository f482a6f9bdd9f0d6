// The keychain's stand-in: passwords by service and account in one 0600 file that survives the
// process, and a damaged file moved aside.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Container.h"
#include "platform/util/KeychainStore.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::util;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// A FIFO held the game in its open for ever and /dev/zero grew without end: each is left as it is,
// every call answering an I/O error, said in one line naming the file.
TEST(KeychainStore, AKeychainThatIsNoFileIsLeftAsItIs) {
    dktest::TempDir dir;
    std::optional<plat::foundation::Container> container =
        plat::foundation::Container::open("com.test.keys", dir.path());
    ASSERT_TRUE(container);
    KeychainStore store = KeychainStore::of(*container);
    std::filesystem::create_directories(dir.path() + "/Library/Keychains");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { mkfifo(store.path().c_str(), 0600); }, "not a file (a FIFO)"},
        {[&] { std::filesystem::create_symlink("/dev/zero", store.path()); }, "not a file (a character device)"},
    };
    for (const auto& [make, why] : cases) {
        make();
        Bytes out;
        testing::internal::CaptureStderr();
        EXPECT_EQ(store.copyPassword("Drovik", "ann", &out), kKeychainIOError);
        EXPECT_EQ(store.addPassword("Drovik", "ann", bytes("secret")), kKeychainIOError);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Keychain: " + store.path() + ": " + why + "\n" + "Keychain: " + store.path() + ": " + why + "\n");
        EXPECT_FALSE(std::filesystem::is_regular_file(store.path()));
        std::filesystem::remove(store.path());
    }
}

TEST(KeychainStore, KeepsPasswordsByServiceAndAccount) {
    dktest::TempDir dir;
    std::optional<plat::foundation::Container> container =
        plat::foundation::Container::open("com.test.keys", dir.path());
    ASSERT_TRUE(container);
    KeychainStore store = KeychainStore::of(*container);
    EXPECT_EQ(store.path(), dir.path() + "/Library/Keychains/keychain.plist");
    const mode_t old = umask(0);  // the file's mode must not depend on the umask

    Bytes out;
    const struct Step {
        const char* what;
        KeychainStatus status;
        KeychainStatus (*run)(KeychainStore&, Bytes&);
        const char* found;  // what copyPassword gives afterwards for ("Drovik", "ann")
    } steps[] = {
        {"find in no file", kKeychainItemNotFound,
         [](KeychainStore& s, Bytes& b) { return s.copyPassword("Drovik", "ann", &b); }, nullptr},
        {"update what is not there", kKeychainItemNotFound,
         [](KeychainStore& s, Bytes&) { return s.updatePassword("Drovik", "ann", bytes("x")); }, nullptr},
        {"add", kKeychainSuccess,
         [](KeychainStore& s, Bytes&) { return s.addPassword("Drovik", "ann", bytes("s3cr\xc3\xa9t")); },
         "s3cr\xc3\xa9t"},
        {"add again", kKeychainDuplicateItem,
         [](KeychainStore& s, Bytes&) { return s.addPassword("Drovik", "ann", bytes("other")); },
         "s3cr\xc3\xa9t"},
        {"another service, same account", kKeychainSuccess,
         [](KeychainStore& s, Bytes&) { return s.addPassword("Other", "ann", bytes("theirs")); },
         "s3cr\xc3\xa9t"},
        {"update", kKeychainSuccess,
         [](KeychainStore& s, Bytes&) { return s.updatePassword("Drovik", "ann", bytes("new")); }, "new"},
        {"delete another account", kKeychainItemNotFound,
         [](KeychainStore& s, Bytes&) { return s.deletePassword("Drovik", "bob"); }, "new"},
        {"delete", kKeychainSuccess,
         [](KeychainStore& s, Bytes&) { return s.deletePassword("Drovik", "ann"); }, nullptr},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(step.run(store, out), step.status) << step.what;
        // A fresh store reads what the file holds.
        KeychainStore again(store.path());
        Bytes found;
        const KeychainStatus status = again.copyPassword("Drovik", "ann", &found);
        if (step.found) {
            EXPECT_EQ(status, kKeychainSuccess) << step.what;
            EXPECT_EQ(found, bytes(step.found)) << step.what;
        } else {
            EXPECT_EQ(status, kKeychainItemNotFound) << step.what;
        }
    }
    EXPECT_EQ(store.copyPassword("Other", "ann", &out), kKeychainSuccess);
    EXPECT_EQ(out, bytes("theirs"));
    EXPECT_EQ(modeOf(store.path()), 0600u);
    EXPECT_EQ(modeOf(dir.path() + "/Library/Keychains"), 0700u);

    // A file widened by hand is narrowed again by the next write.
    chmod(store.path().c_str(), 0644);
    EXPECT_EQ(store.addPassword("Drovik", "cy", bytes("c")), kKeychainSuccess);
    EXPECT_EQ(modeOf(store.path()), 0600u);
    umask(old);
}

// A damaged file is moved aside (each one kept, never written over) with a line naming both
// names, and the keychain starts empty: later stores work. One that cannot be read at all (a
// directory in its place) is left as it is and every call fails.
TEST(KeychainStore, ADamagedFileIsMovedAsideAndTheKeychainStartsEmpty) {
    dktest::TempDir dir;
    const std::string path = dir.file("keychain.plist");
    const std::string damaged[] = {
        "<plist><dict>",
        "<?xml version=\"1.0\"?><plist><dict><key>Drovik</key><string>x</string></dict></plist>",
    };
    const std::string aside[] = {path + ".bad", path + ".bad.2"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(damaged[i]);
        dktest::writeFile(path, damaged[i]);
        KeychainStore store(path);
        Bytes out;
        testing::internal::CaptureStderr();
        EXPECT_EQ(store.copyPassword("Drovik", "ann", &out), kKeychainItemNotFound);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(path + ": "), std::string::npos) << err;
        EXPECT_NE(err.find(aside[i]), std::string::npos) << err;
        EXPECT_EQ(store.addPassword("Drovik", "ann", bytes("p")), kKeychainSuccess);
        EXPECT_EQ(store.copyPassword("Drovik", "ann", &out), kKeychainSuccess);
        EXPECT_EQ(out, bytes("p"));
    }
    for (int i = 0; i < 2; ++i) EXPECT_EQ(dktest::readFile(aside[i]), damaged[i]);

    const std::string blocked = dir.file("blocked.plist");
    std::filesystem::create_directory(blocked);
    KeychainStore store(blocked);
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.addPassword("Drovik", "ann", bytes("p")), kKeychainIOError);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(blocked), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    EXPECT_FALSE(dktest::exists(blocked + ".bad"));
}

// Two processes adding at once keep each other's items (each read the file, added its own and
// wrote back what it had read, losing what the other had added meanwhile).
TEST(KeychainStore, TwoProcessesAddingAtOnceKeepEachOthersItems) {
    dktest::TempDir dir;
    const std::string path = dir.file("Keychains/keychain.plist");
    const int kAdds = 40;
    const std::vector<int> statuses = dktest::sideBySide(2, [&](int id, const std::function<void()>& go) {
        KeychainStore store(path);
        go();
        int failed = 0;
        for (int i = 0; i < kAdds; ++i)
            failed += store.addPassword("Drovik", std::to_string(id) + "-" + std::to_string(i), bytes("p")) !=
                      kKeychainSuccess;
        return failed;
    });
    EXPECT_EQ(statuses, std::vector<int>({0, 0}));
    KeychainStore store(path);
    int kept = 0;
    for (int id = 0; id < 2; ++id)
        for (int i = 0; i < kAdds; ++i)
            kept += store.copyPassword("Drovik", std::to_string(id) + "-" + std::to_string(i), nullptr) ==
                    kKeychainSuccess;
    EXPECT_EQ(kept, 2 * kAdds);
}

}  // namespace
