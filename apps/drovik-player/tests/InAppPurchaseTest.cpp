// In-app purchases as a game makes them: the probe game's script calls actions 8 and 9 through
// the bridge in drovik-player, the local store is configured per case in the container, and the
// production and sandbox verification servers are test servers on 127.0.0.1. Each case's
// standard error (the script's calls and events, the plugin's, store's, alerts' and analytics'
// trace lines) is compared with data/iap/<case>.txt.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using dktest::Reply;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR;
const std::string kProbeApp = DK_SOURCE_DIR "/player/tests/data/Probe.app";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string plist(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
           "</dict></plist>\n";
}

// Verification answers.
Reply status(const std::string& value, const std::string& receipt = "") {
    return Reply{
        200, {}, "{\"status\":" + value + (receipt.empty() ? "" : ",\"receipt\":{" + receipt + "}") + "}"};
}
const std::string kReceipt =
    R"("product_id":"gold","transaction_id":1000000001,"original_transaction_id":"1000000001",)"
    R"("purchase_date_ms":1.7e12,"original_purchase_date_ms":"1700000000000")";
const Reply kHtml{502, {{"Content-Type", "text/html"}}, "<html><body>Bad gateway</body></html>"};
const Reply kEmpty{200, {}, ""};
// Closed after a part of the promised body.
const Reply kClosed{200, {{"Content-Length", "100"}}, "{\"status\":"};
const Reply kSilent{200, {}, "{\"status\":0}", true};

const std::string kGold =
    "<key>gold</key><dict><key>title</key><string>Gold</string><key>price</key><string>0.99</string></dict>";

class InAppPurchase : public testing::Test {
protected:
    InAppPurchase() {
        const auto handler = [this](const dktest::ReceivedRequest&) {
            std::lock_guard lock(m_mutex);
            if (m_replies.empty()) return status("0", kReceipt);
            Reply reply = m_replies.front();
            m_replies.erase(m_replies.begin());
            return reply;
        };
        m_production = std::make_unique<dktest::TestServer>(handler);
        m_sandbox = std::make_unique<dktest::TestServer>(handler);
        dktest::writeFile(
            m_dir.file("servers.plist"),
            plist("<key>iap.verify.production</key><string>" + base(*m_production) +
                  "</string><key>iap.verify.sandbox</key><string>" + base(*m_sandbox) + "</string>"));
    }

    static std::string base(const dktest::TestServer& server) {
        std::string url = server.url("/");
        url.pop_back();
        return url;
    }

    void replies(std::vector<Reply> replies) {
        std::lock_guard lock(m_mutex);
        m_replies = std::move(replies);
    }

    // The probe game with `project` (its steps); a profile when given.
    std::string bundle(const std::string& project, const std::optional<std::string>& profile = std::nullopt) {
        const std::string app = m_dir.file("Probe.app");
        fs::remove_all(app);
        fs::copy(kProbeApp, app, fs::copy_options::recursive);
        dktest::writeFile(app + "/Probe.gameproj/project.lua", project);
        dktest::writeFile(app + "/Info.plist",
                          plist("<key>CFBundleIdentifier</key><string>com.test.probe</string>"
                                "<key>UISupportedInterfaceOrientations</key><array><string>"
                                "UIInterfaceOrientationPortrait</string></array>"));
        if (profile) dktest::writeFile(app + "/embedded.mobileprovision", *profile);
        return app;
    }

    // The store's configuration (none: no store here) and the game network's presence.
    void services(const std::optional<std::string>& store, bool gameNetwork = true) {
        const std::string folder = m_dir.file("home/Library/LocalServices");
        fs::create_directories(folder);
        fs::remove(folder + "/store.plist");
        fs::remove(folder + "/gamenetwork.plist");
        if (store) dktest::writeFile(folder + "/store.plist", plist(*store));
        if (gameNetwork) dktest::writeFile(folder + "/gamenetwork.plist", plist(""));
    }

    std::string storeState() {
        return dktest::readFile(m_dir.file("home/Library/LocalServices/store-state.plist"));
    }

    dktest::ProcessResult run(const std::string& input, std::vector<std::string> environment = {}) {
        dktest::writeFile(m_dir.file("input.txt"), input);
        environment.push_back("DROVIK_HOME=" + m_dir.file("home"));
        environment.push_back("DROVIK_SERVERS=" + m_dir.file("servers.plist"));
        dktest::ProcessResult r =
            dktest::runProcess({kPlayer, "--headless", "--input", "input.txt", "--trace",
                                "plugin,store,alert,svc,pause,input,iap", m_dir.file("Probe.app")},
                               environment, m_dir.path());
        for (std::string* text : {&r.err, &r.out}) {
            *text = replaced(*text, base(*m_production), "$PRODUCTION");
            *text = replaced(*text, base(*m_sandbox), "$SANDBOX");
            *text = replaced(*text, m_dir.path(), "$DIR");
        }
        return r;
    }

    // The expected text data/iap/<name>.txt; with DK_UPDATE_EXPECTED=1 it is written from
    // `actual` instead (review the change before keeping it).
    static std::string expected(const std::string& name, const std::string& actual) {
        const std::string path = kData + "/iap/" + name + ".txt";
        if (dktest::updatingExpected()) dktest::writeFile(path, actual);
        return dktest::readFile(path);
    }

    dktest::TempDir m_dir;
    std::mutex m_mutex;
    std::vector<Reply> m_replies;
    std::unique_ptr<dktest::TestServer> m_production, m_sandbox;
};

// A purchase the person approves: the request exactly, the progress view only while the store is
// waited for, the answer (view gone, play, then the event), the analytics record in order, the
// transaction finished and remembered; then a declined and a cancelled payment, and an approval
// with nothing waiting.
TEST_F(InAppPurchase, ApprovedDeclinedAndCancelledPayments) {
    bundle(
        "steps = { function() probe(8, 'gold') end, function() probe(8, 'gold') end, function() probe(8, "
        "'gold') end }");
    services("<key>products</key><dict>" + kGold + "</dict><key>approval</key><string>ask</string>");
    replies({status("0", kReceipt)});
    const dktest::ProcessResult r = run(R"(7 memory.warning
7.05 dump.views waiting.jsonl
7.1 store.approve
7.15 dump.views answered.jsonl
7.2 memory.warning
7.3 store.fail 5 "Card declined"
7.4 alert.press 0
7.5 memory.warning
7.6 store.cancel
7.7 store.approve
7.8 app.quit
)");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected("payments", r.err));

    const std::vector<dktest::ReceivedRequest> requests = m_production->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(m_sandbox->requests().empty());
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/verifyReceipt");
    EXPECT_EQ(requests[0].body, R"({"receipt-data":"cmVjZWlwdC0x"})");  // "receipt-1"
    std::vector<std::string> headers;
    for (const auto& [name, value] : requests[0].headers)
        headers.push_back(name == "Host" ? name : name + ": " + value);
    EXPECT_EQ(headers, (std::vector<std::string>{"Host", "Accept: */*", "Accept-Encoding: gzip, deflate",
                                                 "Content-Type: application/x-www-form-urlencoded",
                                                 "Content-Length: 31"}));

    const auto shows = [&](const char* dump) {
        return dktest::readFile(m_dir.file(dump)).find("\"controller\":\"DKInAppPurchaseItemController\"") !=
               std::string::npos;
    };
    EXPECT_TRUE(shows("waiting.jsonl"));
    EXPECT_FALSE(shows("answered.jsonl"));
    // Everything finished; the purchase is remembered for restores.
    EXPECT_NE(storeState().find("<key>purchased</key>\n\t<array>\n\t\t<string>gold</string>"),
              std::string::npos)
        << storeState();
    EXPECT_NE(storeState().find("<key>unfinished</key>\n\t<array/>"), std::string::npos) << storeState();
}

// What the store answers a payment with: purchasing is ignored (the game stays paused), a
// cancel raises "InAppCancelled" without an alert, another failure shows its description, and an
// odd state fails; none of them is verified.
TEST_F(InAppPurchase, TransactionStates) {
    bundle(
        "steps = { function() probe(8, 'zero') end, function() probe(8, 'cancel') end, "
        "function() probe(8, 'declined') end, function() probe(8, 'odd') end }");
    std::string products, outcomes;
    for (const char* id : {"zero", "cancel", "declined", "odd"})
        products += std::string("<key>") + id + "</key><dict/>";
    services(
        "<key>products</key><dict>" + products +
        "</dict><key>outcomes</key><dict>"
        "<key>zero</key><dict><key>state</key><integer>0</integer></dict>"
        "<key>cancel</key><dict><key>state</key><string>cancelled</string></dict>"
        "<key>declined</key><dict><key>state</key><string>failed</string><key>code</key><integer>5</integer>"
        "<key>message</key><string>Card declined</string></dict>"
        "<key>odd</key><dict><key>state</key><integer>7</integer></dict></dict>");
    const dktest::ProcessResult r =
        run("7 memory.warning\n+0.1 memory.warning\n+0.1 memory.warning\n"
            "+0.1 memory.warning\n+0.1 app.quit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected("states", r.err));
    EXPECT_TRUE(m_production->requests().empty());
}

// Where the script's purchase cannot start, or the store knows no such product: "InAppFailure",
// inside the script's call and with nothing paused or shown when it cannot start.
TEST_F(InAppPurchase, PurchasesThatCannotGoAhead) {
    const struct Case {
        const char* name;
        std::optional<std::string> store;
        bool gameNetwork;
        const char* steps;
    } cases[] = {
        // No product identifier (nil, a table): no request either.
        {"no-identifier", "<key>products</key><dict>" + kGold + "</dict>", true,
         "function() probe(8, nil) probe(8, {}) probe(8) end"},
        {"no-payments", "<key>canMakePayments</key><false/>", true, "function() probe(8, 'gold') end"},
        {"no-store", std::nullopt, true, "function() probe(8, 'gold') end"},
        {"no-game-network", "<key>products</key><dict>" + kGold + "</dict>", false,
         "function() probe(8, 'gold') end"},
        // One alert for each unknown identifier, in order, each before its failure.
        {"invalid-identifiers", "<key>products</key><dict>" + kGold + "</dict>", true,
         "function() probe(8, 'nope') probe(8, 'gone') end"},
        {"products-error", "<key>productsError</key><string>The store cannot be reached.</string>", true,
         "function() probe(8, 'gold') end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bundle(std::string("steps = { ") + c.steps + " }");
        services(c.store, c.gameNetwork);
        const dktest::ProcessResult r = run("7 memory.warning\n+0.1 app.quit\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(c.name, r.err));
    }
    EXPECT_TRUE(m_production->requests().empty());
}

// The verification endpoint follows the bundle's profile: none or app store, production;
// development, ad hoc or one that does not read, the sandbox.
TEST_F(InAppPurchase, EndpointByProfile) {
    const auto profile = [](const std::string& entries) {
        return "\x30\x82signed envelope<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
               "version=\"1.0\"><dict>"
               "<key>Name</key><string>Test</string>" +
               entries + "</dict></plist>\x01trailer";
    };
    const struct Case {
        const char* name;
        std::optional<std::string> profile;
        bool production;
    } cases[] = {
        {"none", std::nullopt, true},
        {"app store", profile("<key>Entitlements</key><dict><key>get-task-allow</key><false/></dict>"), true},
        {"development", profile("<key>Entitlements</key><dict><key>get-task-allow</key><true/></dict>"),
         false},
        {"ad hoc", profile("<key>ProvisionedDevices</key><array><string>abc</string></array>"), false},
        {"unreadable", std::string("no property list in here"), false},
    };
    services("<key>products</key><dict>" + kGold + "</dict>");
    size_t production = 0, sandbox = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bundle("steps = { function() probe(8, 'gold') end }", c.profile);
        const dktest::ProcessResult r = run("7 memory.warning\n+0.1 app.quit\n");
        EXPECT_NE(r.err.find("plugin event InAppSuccess"), std::string::npos) << r.err;
        (c.production ? production : sandbox) += 1;
        EXPECT_EQ(m_production->requests().size(), production);
        EXPECT_EQ(m_sandbox->requests().size(), sandbox);
    }
}

// Restores: verified and refused transactions mixed (an alert for each refused one, which is
// finished but not counted, also without a definite answer), the name and price of the run's
// last payment in the record; nothing to restore; a failing restore.
TEST_F(InAppPurchase, Restores) {
    const struct Case {
        const char* name;
        std::string store;
        const char* steps;
        std::vector<Reply> replies;
    } cases[] = {
        {"restore",
         "<key>products</key><dict>" + kGold +
             "</dict><key>restorable</key><array><string>a</string><string>b</string><string>c</string>"
             "<string>d</string></array>",
         "function() probe(9) end, function() probe(8, 'gold') end, function() probe(9) end",
         {status("0", R"("product_id":"a")"), status("21002"), kHtml, status("\"0\"", R"("product_id":"d")"),
          status("0", kReceipt), status("0"), status("21002"), status("0"), status("0"), status("0")}},
        {"restore-nothing", "", "function() probe(9) end", {}},
        {"restore-error",
         "<key>restoreError</key><string>The store cannot be reached.</string>",
         "function() probe(9) end",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_dir.file("home"));
        bundle(std::string("steps = { ") + c.steps + " }");
        services(c.store);
        replies(c.replies);
        const dktest::ProcessResult r =
            run("7 memory.warning\n+0.1 alert.press 0\n+0.1 memory.warning\n+0.1 memory.warning\n+0.1 "
                "app.quit\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(c.name, r.err));
    }
}

// What the verification server answers a purchase: anything but a JSON object with an integer
// "status" fails the purchase with one alert and leaves the transaction unfinished (HTML, an empty
// body, a connection closed early, a server that never answers within the time-out); a status as
// a numeric string counts; a definite refusal gives two alerts and finishes it.
TEST_F(InAppPurchase, VerificationAnswers) {
    std::string steps;
    for (int i = 0; i < 6; ++i) steps += "function() probe(8, 'gold') end, ";
    bundle("steps = { " + steps + "}");
    services("<key>products</key><dict>" + kGold + "</dict>");
    replies({kHtml, kEmpty, kClosed, status("\"0\""), status("21000"), kSilent});
    std::string input = "7 memory.warning\n";
    for (int i = 0; i < 5; ++i) input += "+0.1 memory.warning\n";
    const dktest::ProcessResult r = run(input + "+0.1 app.quit\n", {"DROVIK_VERIFY_TIMEOUT=0.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected("answers", r.err));
    EXPECT_EQ(m_production->requests().size(), 6u);
}

// A transaction whose verification got no answer stays with the store: the next process gets it
// again as the plugin comes up, verifies it and finishes it.
TEST_F(InAppPurchase, UnverifiedPurchaseIsVerifiedAtTheNextStart) {
    services("<key>products</key><dict>" + kGold + "</dict>");
    bundle("steps = { function() probe(8, 'gold') end }");
    replies({kClosed});
    dktest::ProcessResult r = run("7 memory.warning\n+0.1 app.quit\n");
    EXPECT_NE(r.err.find("plugin event InAppFailure"), std::string::npos) << r.err;
    EXPECT_NE(storeState().find("<string>gold</string>"), std::string::npos);

    bundle("");
    r = run("7 app.quit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected("redelivered", r.err));
    ASSERT_EQ(m_production->requests().size(), 2u);
    EXPECT_EQ(m_production->requests()[1].body, R"({"receipt-data":"cmVjZWlwdC0x"})");
    EXPECT_NE(storeState().find("<key>unfinished</key>\n\t<array/>"), std::string::npos) << storeState();
}

}  // namespace
