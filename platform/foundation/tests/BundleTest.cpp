#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;

class BundleTest : public ::testing::Test {
protected:
    // Makes `relative` (a file, or a directory when it ends in "/") inside the bundle.
    void add(const std::string& relative) {
        const std::string path = m_root + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        if (relative.ends_with("/"))
            std::filesystem::create_directories(path);
        else
            dktest::writeFile(path, relative);
    }
    void info(const Value& dictionary, PropertyListFormat format = PropertyListFormat::Xml) {
        std::filesystem::create_directories(m_root);
        ASSERT_TRUE(writePropertyList(m_root + "/Info.plist", dictionary, format));
    }
    std::optional<Bundle> open(Error* error = nullptr) { return Bundle::open(m_root, error); }
    std::string relative(const std::optional<std::string>& path) {
        return !path ? "(none)" : path->starts_with(m_root + "/") ? path->substr(m_root.size() + 1) : *path;
    }

    dktest::TempDir m_dir;
    std::string m_root = m_dir.file("Game.app");
};

TEST_F(BundleTest, LooksInTheRootThenTheLanguageThenBase) {
    info(Value::Dictionary{{"CFBundleIdentifier", "com.test.game"}});
    for (const char* file : {"a.png", "fr.lproj/a.png", "Base.lproj/a.png", "fr.lproj/b.png", "Base.lproj/b.png",
                             "Base.lproj/c.png", "de.lproj/d.png", "E.png", "icon@2x.png", "icon~ipad.png",
                             "levels.pack/", "README", "sub/f.txt"})
        add(file);
    const dktest::ScopedEnv env{{"LC_ALL", std::nullopt}, {"LC_MESSAGES", std::nullopt}, {"LANG", "fr_FR.UTF-8"}};
    const std::optional<Bundle> bundle = open();
    ASSERT_TRUE(bundle);
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"a", "png", "a.png"},
        {"b", "png", "fr.lproj/b.png"},
        {"c", "png", "Base.lproj/c.png"},
        {"d", "png", "(none)"},  // another language's
        {"e", "png", "(none)"},  // exact case
        {"icon", "png", "(none)"},  // no implicit suffixes
        {"icon@2x", "png", "icon@2x.png"},
        {"levels", "pack", "levels.pack"},  // a directory
        {"README", "", "README"},
        {"sub/f", "txt", "sub/f.txt"},
        {"", "png", "(none)"},
    };
    for (const auto& [name, type, found] : cases)
        EXPECT_EQ(relative(bundle->pathForResource(name, type)), found) << name << "." << type;
}

TEST_F(BundleTest, TakesTheLanguageFromTheFirstLocaleVariableSet) {
    info(Value::Dictionary{});
    using Env = std::optional<std::string>;
    const std::tuple<Env, Env, Env, const char*> cases[] = {
        {"de_DE.UTF-8", "fr_FR", "es", "de"},
        {"", "fr_FR@euro", "es_ES", "fr"},
        {std::nullopt, std::nullopt, "pt_BR.UTF-8", "pt"},
        {std::nullopt, std::nullopt, std::nullopt, ""},
    };
    add("de.lproj/x.txt");
    add("Base.lproj/x.txt");
    for (const auto& [all, messages, lang, code] : cases) {
        const dktest::ScopedEnv env{{"LC_ALL", all}, {"LC_MESSAGES", messages}, {"LANG", lang}};
        const std::optional<Bundle> bundle = open();
        ASSERT_TRUE(bundle);
        EXPECT_EQ(bundle->language(), code);
        EXPECT_EQ(relative(bundle->pathForResource("x", "txt")),
                  std::string(code) == "de" ? "de.lproj/x.txt" : "Base.lproj/x.txt");
    }
}

TEST_F(BundleTest, ListsResourcesOfATypeInByteOrder) {
    info(Value::Dictionary{});
    for (const char* file : {"b.gameproj", "Z.gameproj", "a.gameproj", "_.gameproj", "\xc3\xa9.gameproj", "D.gameproj/",
                             ".gameproj", "x.gameprojx", "y.GAMEPROJ", "en.lproj/a.gameproj", "en.lproj/c.gameproj",
                             "levels/l2.lvl", "levels/l1.lvl", "Base.lproj/levels/l0.lvl"})
        add(file);
    const dktest::ScopedEnv env{{"LC_ALL", "en_GB.UTF-8"}};
    const std::optional<Bundle> bundle = open();
    ASSERT_TRUE(bundle);
    std::vector<std::string> found;
    for (const std::string& path : bundle->pathsForResourcesOfType("gameproj")) found.push_back(relative(path));
    EXPECT_EQ(found, (std::vector<std::string>{"D.gameproj", "Z.gameproj", "_.gameproj", "a.gameproj", "b.gameproj",
                                               "en.lproj/c.gameproj", "\xc3\xa9.gameproj"}));
    found.clear();
    for (const std::string& path : bundle->pathsForResourcesOfType("lvl", "levels")) found.push_back(relative(path));
    EXPECT_EQ(found, (std::vector<std::string>{"Base.lproj/levels/l0.lvl", "levels/l1.lvl", "levels/l2.lvl"}));
    EXPECT_TRUE(bundle->pathsForResourcesOfType("none").empty());
}

TEST_F(BundleTest, ReadsABinaryInfoPlist) {
    info(Value::Dictionary{{"CFBundleIdentifier", "com.test.binary"},
                           {"CFBundleVersion", "1.2.3"},
                           {"CFBundleShortVersionString", 2.5},
                           {"CFBundleExecutable", "Game"},
                           {"DKOverscan", true}},
         PropertyListFormat::Binary);
    const std::optional<Bundle> bundle = open();
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->path(), m_root);
    EXPECT_EQ(bundle->identifier(), "com.test.binary");
    EXPECT_EQ(bundle->version(), "1.2.3");
    EXPECT_EQ(bundle->shortVersion(), "2.5");
    EXPECT_EQ(bundle->executableName(), "Game");
    ASSERT_TRUE(bundle->infoValue("DKOverscan"));
    EXPECT_TRUE(bundle->infoValue("DKOverscan")->boolValue());
    EXPECT_EQ(bundle->infoValue("Missing"), nullptr);
}

TEST_F(BundleTest, FallsBackToTheDirectoryNameForTheIdentifier) {
    const std::pair<Value, std::string> cases[] = {
        {Value::Dictionary{}, "Game"},
        {Value::Dictionary{{"CFBundleIdentifier", ""}}, "Game"},
        {Value::Dictionary{{"CFBundleIdentifier", 7}}, "Game"},
    };
    for (const auto& [dictionary, id] : cases) {
        info(dictionary);
        EXPECT_EQ(open()->identifier(), id);
    }
    m_root = m_dir.file("Plain");
    info(Value::Dictionary{});
    // Opened through a relative path with a trailing slash, it still says where it is.
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.path());
    const std::optional<Bundle> plain = Bundle::open("./Plain/");
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->identifier(), "Plain");
    EXPECT_EQ(plain->path(), m_root);
}

TEST_F(BundleTest, TheProcessNameIsTheExecutableElseTheProgram) {
    info(Value::Dictionary{{"CFBundleExecutable", "PlayerTest"}});
    const std::optional<Bundle> named = open();
    EXPECT_EQ(processName(&*named), "PlayerTest");
    info(Value::Dictionary{});
    const std::optional<Bundle> unnamed = open();
    EXPECT_EQ(processName(&*unnamed), "foundation_tests");
    EXPECT_EQ(processName(nullptr), "foundation_tests");
}

TEST_F(BundleTest, AMissingOrDamagedInfoPlistIsAnError) {
    const std::pair<std::string, int> cases[] = {
        {"", kFileReadNoSuchFileError},
        {"not a plist", kPropertyListReadCorruptError},
        {*serializePropertyList(Value::Array{1}, PropertyListFormat::Xml), kPropertyListReadCorruptError},
    };
    std::filesystem::create_directories(m_root);
    for (const auto& [contents, code] : cases) {
        if (!contents.empty()) dktest::writeFile(m_root + "/Info.plist", contents);
        Error error;
        EXPECT_FALSE(open(&error));
        EXPECT_EQ(error.code, code);
        EXPECT_TRUE(error.message.starts_with(m_root + "/Info.plist: ")) << error.message;
    }
    Error error;
    EXPECT_FALSE(Bundle::open(m_dir.file("Missing.app"), &error));
    EXPECT_EQ(error.code, kFileReadNoSuchFileError);
    EXPECT_NE(error.message.find(m_dir.file("Missing.app")), std::string::npos);
}

TEST_F(BundleTest, LocalizedStringsAreTheLanguagesTextsElseTheEnglish) {
    info(Value::Dictionary{});
    add("de.lproj/");
    const std::string table = m_root + "/de.lproj/Localizable.strings";
    ASSERT_TRUE(writePropertyList(table, Value::Dictionary{{"Cancel", "Abbrechen"}, {"Count", 3}},
                                  PropertyListFormat::Binary));
    const dktest::ScopedEnv env{{"LC_ALL", "de_DE.UTF-8"}};
    const std::optional<Bundle> bundle = open();
    EXPECT_EQ(bundle->localizedString("Cancel"), "Abbrechen");
    EXPECT_EQ(bundle->localizedString("Count"), "Count");  // not a text
    EXPECT_EQ(bundle->localizedString("OK"), "OK");
    // A table that is no property list leaves the English, and is said once.
    dktest::writeFile(table, "\"Cancel\" = \"Abbrechen\";");
    const std::optional<Bundle> damaged = open();
    testing::internal::CaptureStderr();
    EXPECT_EQ(damaged->localizedString("Cancel"), "Cancel");
    EXPECT_EQ(damaged->localizedString("Cancel"), "Cancel");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
