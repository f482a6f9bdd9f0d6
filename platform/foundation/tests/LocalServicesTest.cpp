// The services' configuration in the container, and the class look-up that follows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/foundation/Carrier.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "platform/sys/ClassRegistry.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;

const Value kConfig = Value::Dictionary{{"player", "Ann"}, {"signedIn", true}};

class LocalServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_container = *Container::open("com.test.game", m_dir.file("home"));
        std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
    }
    std::string file(const std::string& service) {
        return m_dir.file("home/Library/LocalServices/" + service + ".plist");
    }

    dktest::TempDir m_dir;
    std::optional<Container> m_container;
};

TEST_F(LocalServicesTest, AServiceIsThereWhenItsFileReadsAsADictionary) {
    ASSERT_TRUE(writePropertyList(file("GameCenter"), kConfig, PropertyListFormat::Xml));
    ASSERT_TRUE(writePropertyList(file("StoreKit"), kConfig, PropertyListFormat::Binary));
    ASSERT_TRUE(writePropertyList(file("Listed"), Value::Array{1}, PropertyListFormat::Xml));
    dktest::writeFile(file("Broken"), "<plist><dict><key>a</key>");
    const std::pair<const char*, bool> cases[] = {{"GameCenter", true}, {"StoreKit", true},
                                                  {"Twitter", false},   {"Listed", false},
                                                  {"Broken", false},    {"../StoreKit", false}};
    testing::internal::CaptureStderr();
    for (const auto& [service, present] : cases) {
        const std::optional<Value> config = readLocalService(service, &*m_container);
        EXPECT_EQ(config, present ? std::optional(kConfig) : std::nullopt) << service;
    }
    // What is there but unreadable is said; what is missing is not.
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(file("Listed") + ": not a dictionary\nlocal services: " + file("Broken")),
              std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
}

TEST_F(LocalServicesTest, RegisteredClassesAreThereWhileTheMainContainerHoldsTheirService) {
    Container::setMain(*m_container);
    registerLocalServiceClass("GKLocalPlayer", "GameCenter");
    plat::sys::registerClass("AlwaysHere", [] { return true; });
    EXPECT_FALSE(plat::sys::hasClass("GKLocalPlayer"));
    ASSERT_TRUE(writePropertyList(file("GameCenter"), kConfig, PropertyListFormat::Xml));
    EXPECT_TRUE(plat::sys::hasClass("GKLocalPlayer"));
    EXPECT_TRUE(plat::sys::hasClass("AlwaysHere"));
    EXPECT_FALSE(plat::sys::hasClass("SKPaymentQueue"));  // nobody registered it
    std::filesystem::remove(file("GameCenter"));
    EXPECT_FALSE(plat::sys::hasClass("GKLocalPlayer"));
    plat::sys::unregisterClass("AlwaysHere");
    EXPECT_FALSE(plat::sys::hasClass("AlwaysHere"));
    plat::sys::unregisterClass("GKLocalPlayer");
}

TEST_F(LocalServicesTest, TheCarrierAndItsClassesOnlyWithItsFile) {
    Container::setMain(*m_container);
    registerCarrierClasses();
    EXPECT_FALSE(subscriberCarrier());
    EXPECT_FALSE(plat::sys::hasClass(kTelephonyNetworkInfoClassName));
    ASSERT_TRUE(writePropertyList(file("carrier"),
                                  Value::Dictionary{{"mobileCountryCode", "310"}, {"mobileNetworkCode", 410}},
                                  PropertyListFormat::Xml));
    EXPECT_TRUE(plat::sys::hasClass(kTelephonyNetworkInfoClassName));
    EXPECT_TRUE(plat::sys::hasClass(kCarrierClassName));
    std::optional<Carrier> carrier = subscriberCarrier();
    ASSERT_TRUE(carrier);
    EXPECT_EQ(carrier->mobileCountryCode, "310");
    EXPECT_EQ(carrier->mobileNetworkCode, std::nullopt);  // not a string
    EXPECT_EQ(carrier->isoCountryCode, std::nullopt);
    plat::sys::unregisterClass(kTelephonyNetworkInfoClassName);
    plat::sys::unregisterClass(kCarrierClassName);
}

}  // namespace
