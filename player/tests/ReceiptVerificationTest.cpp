// Reading the verification server's answer: only a JSON object with an integer "status" is a
// definite answer; the receipt's fields are kept as their text.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "player/plugins/inapppurchase/DKReceiptVerification.h"

namespace dktest {
namespace {

TEST(ReceiptVerification, OnlyAnIntegerStatusIsAnAnswer) {
    const struct Case {
        const char* body;
        std::optional<int> status;
    } cases[] = {
        {R"({"status":0})", 0},
        {R"({"status":21007,"environment":"Sandbox"})", 21007},
        {R"({"status":"0"})", 0},
        {R"({"status":"-3"})", -3},
        {R"({"status":-3})", -3},
        {R"({"status":0.0})", std::nullopt},
        {R"({"status":1e2})", std::nullopt},
        {R"({"status":"0abc"})", std::nullopt},
        {R"({"status":" 0"})", std::nullopt},
        {R"({"status":""})", std::nullopt},
        {R"({"status":"99999999999"})", std::nullopt},
        {R"({"status":99999999999})", std::nullopt},
        {R"({"status":true})", std::nullopt},
        {R"({"status":null})", std::nullopt},
        {R"({"receipt":{}})", std::nullopt},
        {R"([{"status":0}])", std::nullopt},
        {R"({"status":0)", std::nullopt},
        {R"({"status":0} trailing)", std::nullopt},
        {"<html>ok</html>", std::nullopt},
        {"", std::nullopt},
        {"0", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(dk::player::readReceiptAnswer(c.body).status, c.status);
    }
}

TEST(ReceiptVerification, ReceiptFieldsAsWritten) {
    const dk::player::ReceiptAnswer answer = dk::player::readReceiptAnswer(
        R"({"status":0,"receipt":{"product_id":"gold","transaction_id":1000000001,"purchase_date_ms":1.70e12,)"
        R"("quantity":"1","is_trial":false,"bundle":{"id":"x"},"none":null,"text":"caf\u00e9"}})");
    EXPECT_EQ(answer.receipt, (std::map<std::string, std::string>{{"product_id", "gold"},
                                                                  {"transaction_id", "1000000001"},
                                                                  {"purchase_date_ms", "1.70e12"},
                                                                  {"quantity", "1"},
                                                                  {"text", "caf\xc3\xa9"}}));
    EXPECT_TRUE(dk::player::readReceiptAnswer(R"({"status":0,"receipt":"text"})").receipt.empty());
}

}  // namespace
}  // namespace dktest
