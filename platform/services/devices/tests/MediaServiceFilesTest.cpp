// The media stand-ins as their files in the main container configure them.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Container.h"
#include "platform/services/devices/MediaServiceFiles.h"
#include "platform/services/devices/MediaServices.h"
#include "platform/sys/ClassRegistry.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat;

class MediaServiceFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::Container::setMain(*foundation::Container::open("com.test.media", m_dir.file("home")));
        std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
        devices::registerMediaServices();
    }
    void service(const std::string& name, const std::string& dictionary) {
        dktest::writeFile(m_dir.file("home/Library/LocalServices/" + name + ".plist"),
                          "<plist version=\"1.0\"><dict>" + dictionary + "</dict></plist>");
    }
    dktest::TempDir m_dir;
};

TEST_F(MediaServiceFilesTest, AbsentWithoutTheirFiles) {
    for (const char* name : {devices::kCaptureDeviceClassName, devices::kMediaQueryClassName,
                             devices::kMailComposeClassName, devices::kMessageComposeClassName})
        EXPECT_FALSE(sys::hasClass(name)) << name;
    EXPECT_FALSE(devices::cameraSource());
    EXPECT_FALSE(devices::CaptureDevice::defaultVideoDevice());
    EXPECT_FALSE(devices::canSendMail());
    EXPECT_TRUE(devices::querySongs({}).empty());
}

TEST_F(MediaServiceFilesTest, WhatTheFilesSay) {
    service("camera", "<key>image</key><string>/pics/a.png</string><key>orientation</key><integer>9</integer>"
                      "<key>edited</key><string>b.jpg</string>");
    const auto camera = devices::cameraSource();
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->image, m_dir.file("home/pics/a.png"));
    EXPECT_EQ(camera->orientation, 0) << "out of range";
    EXPECT_EQ(camera->edited, m_dir.file("home/b.jpg"));
    service("camera", "<key>image</key><string>../outside.png</string>");
    EXPECT_FALSE(devices::cameraSource()) << "a picture outside the container is none";

    service("torch", "<key>lockFails</key><true/>");
    std::string error;
    EXPECT_FALSE(devices::CaptureDevice::defaultVideoDevice()->lockForConfiguration(&error));
    EXPECT_FALSE(error.empty());

    service("mail", "");
    service("sms", "<key>canSendText</key><false/>");
    EXPECT_TRUE(devices::canSendMail()) << "YES unless said otherwise";
    EXPECT_FALSE(devices::canSendText());

    service("songs", "<key>items</key><array>"
                     "<dict><key>title</key><string>A</string><key>artist</key><string>X</string>"
                     "<key>rating</key><string>5</string></dict>"
                     "<dict><key>title</key><string>B</string><key>artist</key><string>X</string></dict>"
                     "<string>not a song</string></array>");
    EXPECT_EQ(devices::querySongs({{"artist", "X"}}).size(), 2u);
    EXPECT_EQ(devices::querySongs({{"artist", "X"}, {"title", "B"}}),
              (std::vector<devices::Song>{{{"artist", "X"}, {"title", "B"}}}));
    EXPECT_EQ(devices::querySongs({{"artist", "x"}}).size(), 0u);
    EXPECT_EQ(devices::querySongs({}).front(), (devices::Song{{"artist", "X"}, {"title", "A"}}))
        << "only the six keys";
}

}  // namespace
