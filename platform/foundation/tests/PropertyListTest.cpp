#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;
using dktest::readFile;
using dktest::writeFile;

constexpr PropertyListFormat kFormats[] = {PropertyListFormat::Xml, PropertyListFormat::Binary};

const char* name(PropertyListFormat f) {
    return f == PropertyListFormat::Xml ? "xml" : "binary";
}

std::string fixture(const std::string& file) {
    return std::string(DK_TEST_DATA_DIR) + "/" + file;
}

std::string serialized(const Value& v, PropertyListFormat f) {
    std::optional<std::string> bytes = serializePropertyList(v, f);
    return bytes ? *bytes : std::string();
}

// `depth` arrays, one inside the other.
Value nested(int depth) {
    Value v = Value::Array{};
    for (int i = 1; i < depth; ++i) v = Value::Array{std::move(v)};
    return v;
}

TEST(PropertyList, RoundTripsEveryKind) {
    for (PropertyListFormat f : kFormats) {
        SCOPED_TRACE(name(f));
        const std::string bytes = serialized(dktest::everyKind(), f);
        EXPECT_EQ(bytes.starts_with("bplist00"), f == PropertyListFormat::Binary);
        PropertyListFormat read = PropertyListFormat(-1);
        EXPECT_EQ(parsePropertyList(bytes, nullptr, &read), dktest::everyKind());
        EXPECT_EQ(read, f);
        EXPECT_EQ(parsePropertyList(serialized(Value::Array{}, f)), Value::Array{});
    }
}

// libplist's own date calls hold whole seconds as an int32 from 2001 and lose the sign of a
// fraction; these dates are all beyond what they carry.
TEST(PropertyList, DatesKeepTheirFractionInBinaryAndTheirSecondInXml) {
    const std::pair<double, double> cases[] = {
        // seconds since 1970, and what XML keeps: the second towards 2001
        {978307199.5, 978307200},     // half a second before 2001
        {978307200.25, 978307200},    // and after
        {-2208988799.75, -2208988799},
        {4107481200.5, 4107481200},
        {-62135596800, -62135596800},  // 0001-01-01
    };
    for (const auto& [seconds, xmlSeconds] : cases) {
        const Value date = Date{seconds};
        EXPECT_EQ(parsePropertyList(serialized(date, PropertyListFormat::Binary)), date) << seconds;
        EXPECT_EQ(parsePropertyList(serialized(date, PropertyListFormat::Xml)), Value(Date{xmlSeconds})) << seconds;
    }
}

TEST(PropertyList, ReadsWhatPlistlibWrote) {
    std::string expected = readFile(fixture("plistlib-all.json"));
    ASSERT_FALSE(expected.empty());
    expected.pop_back();  // the line's end
    for (const char* file : {"plistlib-all.xml", "plistlib-all.bplist"}) {
        Error error;
        std::optional<Value> v = readPropertyList(fixture(file), &error);
        ASSERT_TRUE(v) << error.message;
        EXPECT_EQ(v->canonicalJSON(), expected) << file;
    }
}

TEST(PropertyList, PlistlibReadsWhatWeWrote) {
    dktest::TempDir dir;
    for (PropertyListFormat f : kFormats) {
        const std::string path = dir.file(name(f));
        ASSERT_TRUE(writePropertyList(path, dktest::everyKind(), f));
        const dktest::ProcessResult python =
            dktest::runProcess({DK_SOURCE_DIR "/scripts/make-plist-fixtures", "--json", path});
        EXPECT_EQ(python.status, 0) << python.err;
        EXPECT_EQ(python.out, dktest::everyKind().canonicalJSON() + "\n") << name(f);
    }
}

TEST(PropertyList, DamagedFilesAreErrorsNamingTheFile) {
    dktest::TempDir dir;
    const std::string xml = serialized(dktest::everyKind(), PropertyListFormat::Xml);
    const std::string binary = serialized(dktest::everyKind(), PropertyListFormat::Binary);
    // Arrays nested past any sane depth: libplist would overflow its stack freeing them.
    std::string deepXml = "<plist>";
    for (int i = 0; i < 200000; ++i) deepXml += "<array>";
    for (int i = 0; i < 200000; ++i) deepXml += "</array>";
    deepXml += "</plist>";
    // libplist asserts on a key with a NUL in it (Debian builds it with assertions on); binary
    // files hold keys in ASCII or, beyond it, in UTF-16.
    std::string nulKey = serialized(Value::Dictionary{{"kxy", 1}}, PropertyListFormat::Binary);
    nulKey[nulKey.find("kxy") + 1] = '\0';
    std::string nulWideKey = serialized(Value::Dictionary{{"\u00e9xy", 1}}, PropertyListFormat::Binary);
    nulWideKey[nulWideKey.find(std::string("\0x", 2)) + 1] = '\0';
    // Strings that are not UTF-8 (libplist took them and its binary writer cut them at the bad
    // byte): in XML, as an XML key, and as a binary string of one-byte units.
    const std::string notUtf8Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                   "<key>k</key><string>abc\233def-the-rest</string></dict></plist>\n";
    const std::string notUtf8XmlKey = "<plist version=\"1.0\"><dict><key>k\xC3(</key><true/></dict></plist>";
    std::string notUtf8Binary = serialized(Value::Array{"abc-def"}, PropertyListFormat::Binary);
    notUtf8Binary[notUtf8Binary.find("abc-def") + 3] = '\x9B';
    std::string badTrailer = binary;
    badTrailer[badTrailer.size() - 8] = 0x7f;  // the offset table's place, far beyond the end
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"text", "hello, world\n"},
        {"html", "<html><body>not a plist</body></html>"},
        {"xml cut short", xml.substr(0, xml.size() / 2)},
        {"binary cut short", binary.substr(0, binary.size() / 2)},
        {"binary trailer", badTrailer},
        {"magic only", "bplist00"},
        {"deep xml", deepXml},
        {"deep binary", serialized(nested(600), PropertyListFormat::Binary)},
        {"deep xml written", serialized(nested(600), PropertyListFormat::Xml)},
        {"shared", readFile(fixture("plistlib-shared.bplist"))},
        {"key with a NUL", nulKey},
        {"UTF-16 key with a NUL", nulWideKey},
        {"xml string not UTF-8", notUtf8Xml},
        {"xml key not UTF-8", notUtf8XmlKey},
        {"binary string not UTF-8", notUtf8Binary},
    };
    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        const std::string path = dir.file(label);
        writeFile(path, bytes);
        Error error;
        EXPECT_FALSE(readPropertyList(path, &error));
        EXPECT_EQ(error.code, kPropertyListReadCorruptError);
        EXPECT_EQ(error.domain, kCocoaErrorDomain);
        EXPECT_TRUE(error.message.starts_with(path + ": not a property list")) << error.message;
    }
    Error error;
    EXPECT_FALSE(readPropertyList(dir.file("missing"), &error));
    EXPECT_EQ(error.code, kFileReadNoSuchFileError);
    EXPECT_FALSE(readPropertyList(dir.path(), &error));
    EXPECT_EQ(error.code, kFileReadUnknownError);
    EXPECT_TRUE(error.message.starts_with(dir.path() + ": ")) << error.message;
}

// libplist's binary reader cut "a\0c" to "a" (a Twitter account so named was posted as "a"), while
// its XML reader and our writer refuse it: refused the same way in each form and width.
TEST(PropertyList, AStringWithANulIsRefusedInEveryForm) {
    std::string ascii = serialized(Value::Array{"axc"}, PropertyListFormat::Binary);
    ascii[ascii.find("axc") + 1] = '\0';
    std::string wide = serialized(Value::Dictionary{{"k", "\u00e9xy"}}, PropertyListFormat::Binary);
    wide[wide.find(std::string("\0x", 2)) + 1] = '\0';
    std::string top = serialized(Value("axc"), PropertyListFormat::Binary);
    top[top.find("axc") + 1] = '\0';
    const std::string xml = "<plist version=\"1.0\"><array><string>a&#0;c</string></array></plist>";
    for (const std::string& bytes : {ascii, wide, top, xml}) {
        Error error;
        EXPECT_FALSE(parsePropertyList(bytes, &error)) << bytes;
        EXPECT_EQ(error.code, kPropertyListReadCorruptError);
    }
    Error error;
    EXPECT_FALSE(parsePropertyList(ascii, &error));
    EXPECT_EQ(error.message, "not a property list: a string with a NUL character");
}

TEST(PropertyList, RefusesWhatNoPropertyListHolds) {
    const Value cases[] = {
        Value(),
        Value::Array{1, Value()},
        Value::Dictionary{{"a", std::string("x\0y", 3)}},
        Value::Dictionary{{std::string("k\0", 2), 1}},
        Value::Array{"abc\233def-the-rest"},                // not UTF-8: a stray continuation byte
        Value::Dictionary{{"caf\xC3", "a cut sequence"}},  // in a key
        Value("\xC0\xAF"),                                  // an overlong "/"
        Value("\xED\xA0\x80"),                              // a UTF-16 surrogate
        Value("\xF4\x90\x80\x80"),                          // beyond U+10FFFF
        Date{253402300800},  // 10000-01-01
        Date{std::nan("")},
    };
    for (const Value& v : cases) {
        for (PropertyListFormat f : kFormats) {
            Error error;
            EXPECT_FALSE(serializePropertyList(v, f, &error)) << v.canonicalJSON();
            EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
            EXPECT_FALSE(isPropertyListValue(v));
        }
    }
}

// A write killed midway: UserDefaultsTest.
TEST(PropertyList, AWriteReplacesTheFileKeepingItsModeOrSaysWhyNot) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    const std::string path = dir.file("prefs.plist");
    ASSERT_TRUE(writePropertyList(path, dktest::everyKind(), PropertyListFormat::Xml));
    EXPECT_EQ(dktest::unexpectedModes(path, 0600, 0700), std::vector<std::string>{})
        << "a new file is the user's";
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const Value big = Value::Array{Value(Data(100000, 0x5A))};
    ASSERT_TRUE(writePropertyList(path, big, PropertyListFormat::Binary));
    EXPECT_EQ(readPropertyList(path), big);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    Error error;
    EXPECT_FALSE(writePropertyList(dir.file("no/such/dir.plist"), big, PropertyListFormat::Xml, &error));
    EXPECT_EQ(error.code, kFileWriteUnknownError);
    EXPECT_TRUE(error.message.starts_with(dir.file("no/such/dir.plist: "))) << error.message;
}

}  // namespace
