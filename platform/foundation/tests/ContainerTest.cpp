#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;

TEST(Container, ChoosesItsRootAndMakesItsDirectories) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    using Env = std::optional<std::string>;
    struct Case {
        std::string home;
        Env drovikHome, xdgDataHome, userHome;
        std::string root;  // below dir
    } cases[] = {
        {dir.file("H"), dir.file("D"), dir.file("X"), dir.file("U"), "H"},
        {"", dir.file("D"), dir.file("X"), dir.file("U"), "D"},
        {"", "", dir.file("X"), dir.file("U"), "X/drovik/com.test.game"},
        {"", std::nullopt, "", dir.file("U"), "U/.local/share/drovik/com.test.game"},
        {"rel/home/", std::nullopt, std::nullopt, dir.file("U"), "rel/home"},
    };
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        const dktest::ScopedEnv env{{"DROVIK_HOME", c.drovikHome}, {"XDG_DATA_HOME", c.xdgDataHome}, {"HOME", c.userHome}};
        std::optional<Container> container = Container::open("com.test.game", c.home);
        ASSERT_TRUE(container);
        const std::string root = dir.file(c.root);
        EXPECT_EQ(container->path(), root);
        EXPECT_TRUE(isDirectory(root));
        EXPECT_FALSE(dktest::exists(root + "/Documents"));  // made on first use only
        const std::vector<std::string> made{container->documentsPath(), container->cachesPath(),
                                            container->applicationSupportPath(), container->preferencesPath(),
                                            container->temporaryPath()};
        EXPECT_EQ(made, (std::vector<std::string>{root + "/Documents", root + "/Library/Caches",
                                                  root + "/Library/Application Support",
                                                  root + "/Library/Preferences", root + "/tmp"}));
        for (const std::string& path : made) EXPECT_TRUE(isDirectory(path)) << path;
        // The user's alone, however permissive the umask: the root's parents made here too.
        const std::string top = dir.file(c.root.substr(0, c.root.find('/')));
        EXPECT_EQ(dktest::unexpectedModes(top, 0600, 0700), std::vector<std::string>{});
    }
    std::filesystem::current_path(cwd);
}

TEST(Container, WhatCannotBeMadeIsAnErrorNamingThePath) {
    dktest::TempDir dir;
    dktest::writeFile(dir.file("file"), "in the way");
    Error error;
    EXPECT_FALSE(Container::open("com.test.game", dir.file("file/root"), &error));
    EXPECT_NE(error.message.find(dir.file("file/root")), std::string::npos) << error.message;

    std::optional<Container> container = Container::open("com.test.game", dir.file("root"));
    ASSERT_TRUE(container);
    dktest::writeFile(dir.file("root/Library"), "in the way");
    EXPECT_EQ(container->preferencesPath(&error), "");
    EXPECT_NE(error.message.find(dir.file("root/Library/Preferences")), std::string::npos) << error.message;
    EXPECT_EQ(container->documentsPath(), dir.file("root/Documents"));

    for (const char* id : {"", ".", "..", "com/evil"}) {
        EXPECT_FALSE(Container::open(id, dir.file("other"), &error)) << id;
        EXPECT_FALSE(dktest::exists(dir.file("other")));
    }
}

// The one-player lock is opened without following a link and only as a regular file: a link at
// its name to a file outside the home had that file's text replaced by the player's pid, and a
// dangling one made its target. What stands in the way is named, not taken for another player.
TEST(Container, TheOnePlayerLockIsOnlyEverARegularFileOfItsOwn) {
    dktest::TempDir dir;
    std::optional<Container> container = Container::open("com.test.game", dir.file("home"));
    ASSERT_TRUE(container);
    const std::string lock = dir.file("home/.drovik-player.lock");
    dktest::writeFile(dir.file("outside.txt"), "precious\n");
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* reason;
    };
    const Case cases[] = {
        {"a link to a file outside", [&] { std::filesystem::create_symlink(dir.file("outside.txt"), lock); },
         "a symbolic link, not followed"},
        {"a dangling link", [&] { std::filesystem::create_symlink(dir.file("made"), lock); },
         "a symbolic link, not followed"},
        {"a folder", [&] { std::filesystem::create_directory(lock); }, "Is a directory"},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }, "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(lock);
        c.make();
        std::string holder = "unset", problem;
        EXPECT_FALSE(container->claim(&holder, &problem));
        EXPECT_EQ(problem, lock + ": " + c.reason);
        EXPECT_EQ(holder, "");
    }
    EXPECT_EQ(dktest::readFile(dir.file("outside.txt")), "precious\n");
    EXPECT_FALSE(dktest::exists(dir.file("made")));

    std::filesystem::remove(lock);
    std::string problem;
    EXPECT_TRUE(container->claim(nullptr, &problem));
    EXPECT_EQ(problem, "");
}

}  // namespace
