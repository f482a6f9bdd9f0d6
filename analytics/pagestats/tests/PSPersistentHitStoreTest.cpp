// The hit store on real files: schema, visits, the cap, sampling, referrers, cached visitor
// variables, the older layout carried over, damaged and unopenable files.
#include "analytics/pagestats/PSPersistentHitStore.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "analytics/pagestats/tests/PagestatsTestSupport.h"
#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::rows;
using Rows = std::vector<std::string>;

struct HitStoreTest : testing::Test {
    dktest::TempDir dir;
    std::string path = dir.path() + "/pagestats.sql";
    std::shared_ptr<PSHitBuilder> builder = dktest::fixedBuilder();

    std::unique_ptr<PSPersistentHitStore> open() { return std::make_unique<PSPersistentHitStore>(builder, path); }
    // A session row written before the store first opens the file, so its store id is known.
    void presetStoreId(int storeId) {
        ASSERT_TRUE(dktest::execSql(path, "CREATE TABLE session ( 'timestamp_first' INTEGER PRIMARY KEY, "
                                          "'timestamp_previous' INTEGER NOT NULL, 'timestamp_current' INTEGER NOT "
                                          "NULL, 'visits' INTEGER NOT NULL, 'store_id' INTEGER NOT NULL);"
                                          "INSERT INTO session VALUES (0, 0, 0, 0, " +
                                              std::to_string(storeId) + ");"));
    }
    static bool put(PSPersistentHitStore& store, PSEvent event, PSError* error = nullptr) {
        return store.putEvent(event, error);
    }
    Rows hitStrings() { return rows(path, "SELECT hit_string FROM hits ORDER BY hit_id"); }
    Rows session() { return rows(path, "SELECT * FROM session"); }
};

TEST_F(HitStoreTest, FreshFileHoldsTheSchemaTheCacheRowsAndASessionRow) {
    auto store = open();
    ASSERT_NE(store->database(), nullptr);
    std::string schema;
    for (const std::string& row : rows(path, "SELECT name, sql FROM sqlite_master ORDER BY rowid")) schema += row + "\n";
    EXPECT_EQ(schema, dktest::readFile(DK_TEST_DATA_DIR "/schema.txt"));
    EXPECT_EQ(rows(path, "SELECT cv_scope, cv_index, cv_name, cv_value FROM custom_var_cache ORDER BY cv_id"),
              (Rows{"3|1||", "3|2||", "3|3||", "3|4||", "3|5||"}));
    EXPECT_EQ(session(), Rows{"0|0|0|0|" + std::to_string(store->storeID())});
    EXPECT_NE(store->storeID(), 0);
    store.reset();
    open();  // a second open adds nothing
    EXPECT_EQ(rows(path, "SELECT count(*) FROM custom_var_cache"), Rows{"5"});
}

TEST_F(HitStoreTest, FirstPutOpensTheFirstVisitAndANewSessionTheNext) {
    presetStoreId(77);
    auto store = open();
    ASSERT_TRUE(put(*store, dktest::pageView("/a")));
    EXPECT_EQ(session(), Rows{"1700000000|1700000000|1700000000|1|77"});
    dktest::setWallTime(1700000100);
    ASSERT_TRUE(put(*store, dktest::pageView("/b")));
    EXPECT_EQ(session(), Rows{"1700000000|1700000000|1700000000|1|77"});  // the same visit
    store->startNewSession();
    dktest::setWallTime(1700000200);
    ASSERT_TRUE(put(*store, dktest::pageView("/c")));
    EXPECT_EQ(session(), Rows{"1700000000|1700000000|1700000200|2|77"});
    EXPECT_EQ(dktest::param(hitStrings().back(), "utmcc"), "__utma%3D1.77.1700000000.1700000000.1700000200.2%3B");
    EXPECT_EQ(store->visitorIDForAfma(), "77.1700000000");
    EXPECT_EQ(store->sessionIDForAfma(), "1700000200");
}

TEST_F(HitStoreTest, AFullQueueRefusesPutsUntilAHitIsDeleted) {
    auto store = open();
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(put(*store, dktest::pageView("/p"))) << i;
    PSError error;
    EXPECT_FALSE(put(*store, dktest::pageView("/p"), &error));
    EXPECT_EQ(error.code, 0x0BADE7A9u);
    EXPECT_EQ(error.domain, kPSPersistentEventStoreErrorDomain);
    std::optional<std::vector<PSHit>> hits = store->peekHits(-1);
    ASSERT_TRUE(hits);
    ASSERT_EQ(hits->size(), 1000u);
    ASSERT_TRUE(store->deleteHit(hits->front().hitId()));
    EXPECT_TRUE(put(*store, dktest::pageView("/p")));
    EXPECT_FALSE(put(*store, dktest::pageView("/p")));
    EXPECT_EQ(rows(path, "SELECT count(*) FROM hits"), Rows{"1000"});
}

// The count falls only by the rows a delete removed: a second delete of one id must not free a
// place the queue does not have.
TEST_F(HitStoreTest, DeletingAnIdNoLongerStoredLeavesTheCount) {
    auto store = open();
    ASSERT_TRUE(put(*store, dktest::pageView("/a")));
    ASSERT_TRUE(put(*store, dktest::pageView("/b")));
    const std::uint64_t first = store->peekHits(1)->front().hitId();
    EXPECT_TRUE(store->deleteHit(first));
    EXPECT_TRUE(store->deleteHit(first));
    EXPECT_EQ(store->storedHits(), 1u);
    EXPECT_TRUE(store->deleteHit(first + 1));
    EXPECT_TRUE(store->deleteHit(first + 1));
    EXPECT_EQ(store->storedHits(), 0u);
}

TEST_F(HitStoreTest, SamplingKeepsADeviceByItsStoreId) {
    struct Case {
        int storeId;
        unsigned rate;
        bool kept;
    };
    const Case cases[] = {
        {4999, 50, true}, {5000, 50, false}, {15000, 50, false}, {14999, 50, true},
        {0, 0, false},    {9999, 100, true}, {9999, 99, false},  {9899, 99, true},
    };
    for (const Case& c : cases) {
        dktest::TempDir caseDir;
        path = caseDir.path() + "/pagestats.sql";
        presetStoreId(c.storeId);
        auto store = open();
        store->setSampleRate(c.rate);
        PSError error;
        EXPECT_TRUE(put(*store, dktest::pageView("/p"), &error));
        EXPECT_EQ(error.code, 0u);
        EXPECT_EQ(hitStrings().size(), c.kept ? 1u : 0u) << c.storeId << " at " << c.rate;
        EXPECT_EQ(store->storedHits(), c.kept ? 1u : 0u);
    }
}

TEST_F(HitStoreTest, ReferrersNeedACampaignAndAreStampedByTheVisitThatFirstCarriesThem) {
    for (const char* refused : {"utm_source=a&utm_medium=b", "", "gclid", "utm_source=a&utm_medium=b&utm_campaign"}) {
        auto store = open();
        PSError error;
        EXPECT_FALSE(store->setReferrer(refused, &error)) << refused;
        EXPECT_EQ(error.domain, kPSTrackerErrorDomain);
        EXPECT_EQ(error.code, kPSTrackerInvalidInputError);
    }
    const std::pair<const char*, const char*> accepted[] = {
        {"gclid=x", "utmgclid=x"},
        {"utm_content=t&utm_term=a+b c&utm_medium=m&utm_campaign=c&utm_source=s&utm_id=9&gclid=",
         "utmcid=9|utmcsr=s|utmccn=c|utmcmd=m|utmctr=a%20b%20c|utmcct=t"},
    };
    for (const auto& [query, text] : accepted) EXPECT_EQ(PSPersistentHitStore::formatReferrer(query), text);

    auto store = open();
    ASSERT_TRUE(put(*store, dktest::pageView("/before")));
    ASSERT_TRUE(store->setReferrer("gclid=x"));
    EXPECT_EQ(rows(path, "SELECT * FROM referrer"), Rows{"utmgclid=x|0|0|1"});
    ASSERT_TRUE(store->setReferrer("gclid=y"));  // not used yet: same index
    EXPECT_EQ(rows(path, "SELECT * FROM referrer"), Rows{"utmgclid=y|0|0|1"});
    dktest::setWallTime(1700000300);
    ASSERT_TRUE(put(*store, dktest::pageView("/after")));  // a new referrer opens a new visit
    EXPECT_EQ(rows(path, "SELECT * FROM referrer"), Rows{"utmgclid=y|1700000300|2|1"});
    EXPECT_NE(hitStrings().back().find("%2B__utmz%3D1.1700000300.2.1.utmgclid%3Dy%3B"), std::string::npos);
    ASSERT_TRUE(store->setReferrer("gclid=z"));
    EXPECT_EQ(rows(path, "SELECT * FROM referrer"), Rows{"utmgclid=z|0|0|2"});
}

// Each store keeps its own visit: opening another one must not restart this one's.
TEST_F(HitStoreTest, EachStoreKeepsItsOwnVisit) {
    auto store = open();
    ASSERT_TRUE(put(*store, dktest::pageView("/a")));
    dktest::TempDir other;
    PSPersistentHitStore second(builder, other.path() + "/pagestats.sql");
    dktest::setWallTime(1700000500);
    ASSERT_TRUE(put(*store, dktest::pageView("/b")));
    EXPECT_EQ(store->visits(), 1);
    EXPECT_EQ(session(), Rows{"1700000000|1700000000|1700000000|1|" + std::to_string(store->storeID())});
}

TEST_F(HitStoreTest, VisitorVariablesRideOnTheNextVisitsFirstPageViewUnlessItSetsTheSlot) {
    {
        auto first = open();
        ASSERT_TRUE(put(*first, dktest::pageView("/a", {{1, "who", "me", kPSVisitorScope}, {2, "s", "t", 2}})));
        EXPECT_EQ(first->getVisitorCustomVarAtSlot(1), "me");
        EXPECT_EQ(first->getVisitorCustomVarAtSlot(2), std::nullopt);
    }
    auto later = open();  // the next process
    ASSERT_TRUE(put(*later, dktest::pageView("/b")));
    ASSERT_TRUE(put(*later, dktest::pageView("/c")));
    later->startNewSession();
    ASSERT_TRUE(put(*later, dktest::pageView("/d", {{1, "who", "you", kPSPageScope}})));
    const Rows hits = hitStrings();
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_EQ(dktest::param(hits[1], "utme"), "8(1!who)9(1!me)11(1!1)");
    EXPECT_EQ(dktest::param(hits[2], "utme"), "");
    EXPECT_EQ(dktest::param(hits[3], "utme"), "8(1!who)9(1!you)11(1!3)");
    EXPECT_EQ(later->getVisitorCustomVarAtSlot(1), std::nullopt);  // replaced by a page-scope value
}

// Older files queued events; they become hits of the file's own visitor, and the old tables go.
TEST_F(HitStoreTest, LegacyEventsBecomeHitsOfTheStoredVisitor) {
    presetStoreId(4242);
    ASSERT_TRUE(dktest::execSql(path, dktest::readFile(DK_TEST_DATA_DIR "/legacy.sql")));
    auto store = open();
    const Rows hits = hitStrings();
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_EQ(dktest::param(hits[0], "utmp"), "%2Fhome");
    EXPECT_EQ(dktest::param(hits[0], "utme"), "8(2!kind)9(2!fast)11(2!2)");
    EXPECT_EQ(dktest::param(hits[1], "utme"), "5(menu*open*x)(4)");
    EXPECT_EQ(dktest::param(hits[2], "utmtst"), "Shop");
    EXPECT_EQ(dktest::param(hits[2], "utmtto"), "9.500000");
    EXPECT_EQ(dktest::param(hits[3], "utmipc"), "sku-1");
    EXPECT_EQ(dktest::param(hits[3], "utmiqt"), "2");
    for (const std::string& hit : hits) {
        EXPECT_EQ(dktest::param(hit, "utmcc"), "__utma%3D1.4242.1600000000.1600000000.1600000100.3%3B") << hit;
        EXPECT_EQ(dktest::param(hit, "utmn"), "123");
    }
    EXPECT_EQ(rows(path, "SELECT name FROM sqlite_master WHERE name IN ('events','items','transactions',"
                         "'custom_variables') ORDER BY name"),
              Rows{"events"});
    EXPECT_EQ(rows(path, "SELECT count(*) FROM events"), Rows{"0"});
    EXPECT_EQ(store->storedHits(), 4u);
}

TEST_F(HitStoreTest, AFileThatIsNoDatabaseIsSetAsideForAFreshStore) {
    const std::string garbage(4096, 'x');
    dktest::writeFile(path, garbage);
    testing::internal::CaptureStderr();
    auto store = open();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "PageStats database is damaged; moved to " + path + ".corrupt\n");
    EXPECT_EQ(dktest::readFile(path + ".corrupt"), garbage);
    EXPECT_TRUE(put(*store, dktest::pageView("/a")));
    EXPECT_EQ(hitStrings().size(), 1u);
}

// A store damaged a second time keeps the first damaged copy: they are numbered as the user
// defaults' ".bad" files are, and each line names the copy it made.
TEST_F(HitStoreTest, EveryDamagedStoreIsKeptAside) {
    const std::string damaged[] = {std::string(4096, 'x'), std::string(4096, 'y')};
    testing::internal::CaptureStderr();
    for (const std::string& garbage : damaged) {
        dktest::writeFile(path, garbage);
        EXPECT_TRUE(put(*open(), dktest::pageView("/a")));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "PageStats database is damaged; moved to " + path + ".corrupt\n" +
                                                          "PageStats database is damaged; moved to " + path + ".corrupt.2\n");
    EXPECT_TRUE(dktest::readFile(path + ".corrupt") == damaged[0]);
    EXPECT_TRUE(dktest::readFile(path + ".corrupt.2") == damaged[1]);
}

// Damage past the first page, met by a statement while the store is open or by the next start,
// sets the file aside once and the store starts anew. Kept, it failed most puts and sent the hits
// it could read on every dispatch, their deletes failing. A hit reported dispatched is gone, and
// a late report of an older one takes no new hit with it.
TEST_F(HitStoreTest, DamagePastTheFirstPageIsHealed) {
    for (const bool whileOpen : {true, false}) {
        SCOPED_TRACE(whileOpen ? "while open" : "at the next start");
        std::filesystem::remove(path);
        std::filesystem::remove(path + ".corrupt");
        auto store = open();
        for (int i = 0; i < 150; ++i) ASSERT_TRUE(put(*store, dktest::pageView("/page-" + std::to_string(i))));
        const std::vector<PSHit> sent = *store->peekHits(-1);
        ASSERT_EQ(sent.size(), 150u);
        testing::internal::CaptureStderr();
        if (whileOpen) {
            dktest::damagePastFirstPage(path);
            EXPECT_TRUE(store->deleteHit(sent[0].hitId()));
        } else {
            store.reset();
            dktest::damagePastFirstPage(path);
            store = open();
        }
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said, "PageStats database is damaged; moved to " + path + ".corrupt\n");
        EXPECT_TRUE(dktest::exists(path + ".corrupt"));
        EXPECT_EQ(store->storedHits(), 0u);
        ASSERT_TRUE(put(*store, dktest::pageView("/after")));
        if (whileOpen) {
            EXPECT_TRUE(store->deleteHit(sent[0].hitId()));  // reported again, late
        }
        ASSERT_EQ(hitStrings().size(), 1u);
        EXPECT_NE(hitStrings()[0].find("after"), std::string::npos);
        EXPECT_EQ(store->storedHits(), 1u);
    }
}

TEST_F(HitStoreTest, WithoutADatabaseEveryCallFailsQuietly) {
    path = dir.path() + "/missing/folder/pagestats.sql";
    testing::internal::CaptureStderr();
    auto store = open();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open PageStats database\n");
    EXPECT_EQ(store->database(), nullptr);
    PSError error;
    EXPECT_FALSE(put(*store, dktest::pageView("/a"), &error));
    EXPECT_EQ(error.code, 0xDEADC0DEu);
    EXPECT_FALSE(store->peekHits(-1));
    EXPECT_FALSE(store->deleteHit(1));
    EXPECT_FALSE(store->countHits());
    EXPECT_FALSE(store->setReferrer("gclid=x", &error));
    EXPECT_EQ(error.domain, kPSTrackerErrorDomain);
    EXPECT_EQ(error.code, kPSTrackerDatabaseError);
    EXPECT_FALSE(dktest::exists(path));
}

}  // namespace
