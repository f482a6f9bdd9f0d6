#include <gtest/gtest.h>

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

}  // namespace
