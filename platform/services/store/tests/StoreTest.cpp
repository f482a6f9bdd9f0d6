// The local store's own state file: a damaged one is kept aside, never written over. (What the
// state carries from one start to the next is driven through the player in InAppPurchaseTest.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/foundation/Container.h"
#include "platform/services/store/Store.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

TEST(LocalStore, ADamagedStateIsKeptAside) {
    TempDir dir;
    const std::string folder = dir.file("Library/LocalServices");
    std::filesystem::create_directories(folder);
    writeFile(folder + "/store.plist", "<plist version=\"1.0\"><dict/></plist>");
    const std::string damaged = "<plist><dict><key>transactionCounter</key>";
    writeFile(folder + "/store-state.plist", damaged);

    plat::store::PaymentQueue queue(plat::foundation::Container::open("com.test.store", dir.path()));
    EXPECT_TRUE(queue.transactions().empty());
    EXPECT_EQ(readFile(folder + "/store-state.plist.bad"), damaged);
    queue.addPayment({"a"});
    EXPECT_EQ(queue.transactions().size(), 1u);
    EXPECT_NE(readFile(folder + "/store-state.plist").find("<key>transactionCounter</key>"),
              std::string::npos);
}

}  // namespace
}  // namespace dktest
