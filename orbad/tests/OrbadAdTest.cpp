// The ad and action models read from response entries: the kinds, every reader's default, and
// values of the wrong JSON type taken as absent.
#include <gtest/gtest.h>

#include <algorithm>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdDump.h"

namespace {

using orbad::OrbadAd;
using plat::foundation::Value;

std::shared_ptr<OrbadAd> model(const std::string& creative) {
    std::string error;
    std::optional<Value> entry = Value::fromJSON(R"({"creative":)" + creative + "}", &error);
    EXPECT_TRUE(entry) << error << " in " << creative;
    return OrbadAd::adWithJSONDictionary(entry ? *entry : Value());
}

struct Case {
    const char* what;
    const char* creative;
    std::vector<std::string> lines;  // each among the model's description
};

TEST(OrbadAd, ReadsEachKindWithTheReadersDefaults) {
    const Case cases[] = {
        {"html is a web ad", R"({"id":"h1","type":"html","props":{"html":"<b>x</b>"}})",
         {"model OrbadWebAd type=0 id=h1", "field htmlContent <b>x</b>", "field action nil", "field events {}",
          "field requestParameters nil"}},
        {"richMedia is a web ad", R"({"type":"richMedia"})", {"model OrbadWebAd type=0 id=nil", "field htmlContent nil"}},
        {"no type is a web ad", R"({"id":7})", {"model OrbadWebAd type=0 id=7"}},
        {"image and banner", R"({"type":"image","props":{"images":["a.png","http://h/b.png",3,"http://h/c d"]}})",
         {"model OrbadBannerAd type=2 id=nil", "field imageURLs http://h/b.png", "field transitionType 0",
          "field durationTime 0", "field shouldLoop NO"}},
        {"banner", R"({"type":"banner","props":{"durationTime":3,"transitionTime":5,"loop":"yes",
           "transitionType":"curlDown"}})",
         {"model OrbadBannerAd type=2 id=nil", "field durationTime 3", "field shouldLoop YES", "field transitionType 8"}},
        {"transitionTime alone", R"({"type":"banner","props":{"transitionTime":5,"loop":1,"transitionType":"fade"}})",
         {"field durationTime 5", "field shouldLoop YES", "field transitionType 9"}},
        {"wobble", R"({"type":"banner","props":{"transitionType":"wobble","loop":false}})",
         {"field transitionType 0", "field shouldLoop NO"}},
        {"text panels", R"({"type":"text","props":{"texts":[
           {"bgColor":{"r":255,"g":0,"b":51},"leftIcon":"http://h/i.png","rightIcon":"i.png",
            "headerText":{"text":"Hi","alignment":"center","color":{"r":0,"g":0,"b":0,"a":255}},
            "bodyText":{"text":"null","alignment":"right"}},
           "not a panel", 4, {"bodyText":{"text":"Two"}}]}})",
         {"model OrbadTextAd type=1 id=nil", "field texts[0].backgroundColor 1.000,0.000,0.200,0.000",
          "field texts[0].leftIconURL http://h/i.png", "field texts[0].rightIconURL nil",
          "field texts[0].headerText Hi", "field texts[0].headerTextColor 0.000,0.000,0.000,1.000",
          "field texts[0].headerTextAlignment 1", "field texts[0].bodyText nil", "field texts[0].bodyTextAlignment 2",
          "field texts[1].bodyText Two", "field texts[1].backgroundColor nil"}},
        {"texts not a list", R"({"type":"text","props":{"texts":{"a":1}}})", {"field texts"}},
        {"networks", R"({"type":"openallocation","props":{"network":"openiad"}})",
         {"model OrbadOpenAllocationAd type=3 id=nil", "field openAllocationType 2"}},
        {"unknown network", R"({"type":"openallocation","props":{"network":"openfoo"}})",
         {"field openAllocationType -1"}},
        {"events and params", R"({"type":"html","eventUrls":{"onShow":["http://h/s"]},
           "props":{"params":{"retry":2,"zone":"z"}}})",
         {"field events.show http://h/s", "field requestParameters.retry 2", "field requestParameters.zone z"}},
        {"props of the wrong type", R"({"type":"banner","props":["images"]})",
         {"field properties {}", "field requestParameters nil", "field imageURLs"}},
        {"params of the wrong type", R"({"type":"html","props":{"params":"retry=1"}})", {"field requestParameters nil"}},
        {"action of the wrong type", R"({"type":"html","action":"url"})", {"field action nil"}},
        {"url action", R"({"action":{"type":"url","url":"http://h/l","browserType":"minimal","preload":"true",
           "eventUrls":{"show":"http://h/t"}}})",
         {"field action.class OrbadAdURLAction", "field action.type 2", "field action.events.show http://h/t",
          "field action.shouldPreload YES", "field action.autoplay NO", "field action.browserStyle 2",
          "field action.actionURL http://h/l"}},
        {"html action", R"({"action":{"type":"html","html":"<p>","baseUrl":"file.html","browserType":"full"}})",
         {"field action.type 3", "field action.embeddedHTML <p>", "field action.baseURL nil",
          "field action.browserStyle 3"}},
        {"video action", R"({"action":{"type":"video","videoUrl":"http://h/v.mp4","autoplay":1,"tagline":"T",
           "buttons":[{"imageUrl":"http://h/b","url":"http://h/u"},"x"]}})",
         {"field action.type 0", "field action.autoplay YES", "field action.videoURL http://h/v.mp4",
          "field action.taglineTitle T", "field action.buttons[0].imageURL http://h/b"}},
        {"pop-over video", R"({"action":{"type":"popOverVideo","url":"http://h/v","size":{"w":320,"h":240},
           "buttons":[{"title":"Buy","url":"http://h/b"}]}})",
         {"field action.type 1", "field action.videoSize 320,240", "field action.buttons[0].title Buy"}},
        {"overlay", R"({"action":{"type":"overlay"}})", {"field action.class OrbadAdRichMediaAction", "field action.type 4"}},
        {"other action words", R"({"action":{"type":"richMedia"}})", {"field action.type 5"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> lines = orbad::describeAd(*model(c.creative));
        for (const std::string& expected : c.lines)
            EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << c.what << ": " << expected;
    }
}

TEST(OrbadAd, IndexedAccessorsStopAtTheEnd) {
    auto banner = std::dynamic_pointer_cast<orbad::OrbadBannerAd>(
        model(R"({"type":"banner","props":{"images":["http://h/1","http://h/2"]}})"));
    ASSERT_TRUE(banner);
    EXPECT_EQ(banner->firstImageURL(), "http://h/1");
    EXPECT_EQ(banner->imageURLAtIndex(2), std::nullopt);
    auto text = std::dynamic_pointer_cast<orbad::OrbadTextAd>(model(R"({"type":"text"})"));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->firstText(), nullptr);
}

TEST(OrbadAdAction, RichMediaCallGoesToItsLiveViewOnly) {
    auto action = std::make_shared<orbad::OrbadAdRichMediaAction>(Value::fromJSON(R"({"type":"richMedia"})").value());
    EXPECT_FALSE(action->callRichMedia());
    std::vector<std::string> heard;
    auto view = std::make_shared<plat::ui::View>();
    action->setRichMedia({view, "expand:", [&](const Value& v) { heard.push_back(*v.string()); }, Value("arg")});
    EXPECT_TRUE(action->callRichMedia());
    view.reset();
    EXPECT_FALSE(action->callRichMedia());
    EXPECT_EQ(heard, std::vector<std::string>{"arg"});
}

}  // namespace
