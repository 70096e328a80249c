// The interface thread and the sync worker use one AppDatabase at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/database/database_test_support.h"

namespace bm {
namespace {

using test::Bookmark;

class ConcurrencyTest : public test::DatabaseTest {};

TEST_F(ConcurrencyTest, TwoThreadsInterleavingOperationsLoseNothing) {
    constexpr int kRounds = 300;
    const int64_t target = db.CreateProfile(L"Sync target");
    std::atomic<int> failures{0};
    std::string firstFailure;
    std::atomic_flag failureNoted = ATOMIC_FLAG_INIT;
    auto noteFailure = [&](const std::exception& e) {
        if (!failureNoted.test_and_set()) firstFailure = e.what();
        ++failures;
    };

    int totalAdded = 0;
    int totalSkipped = 0;
    // Like the sync worker: adds, reads back and snapshots the same profile.
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            try {
                int skipped = 0;
                const std::wstring url = L"https://site.example/" + std::to_wstring(i);
                totalAdded += db.AddBookmarks(
                    target, {Bookmark(url, L"Page"), Bookmark(url + L"/", L"Same page"), Bookmark(L"HTTPS://SITE.EXAMPLE/0", L"First")},
                    &skipped);
                totalSkipped += skipped;
                if (db.GetBookmarks(target).size() != static_cast<size_t>(i + 1)) ++failures;
                if (i % 25 == 0) db.CreateSnapshot(target, L"Auto-backup before sync");
                if (i % 10 == 0) db.TouchProfile(target);
                db.ListSnapshots(target);
                db.GetDefaultProfileId();
            } catch (const std::exception& e) {
                noteFailure(e);
            }
        }
    });
    // Like the interface thread: settings, profiles and lists in between.
    std::thread ui([&] {
        for (int i = 0; i < kRounds; ++i) {
            try {
                if (i % 5 == 4) db.SetSetting(L"ui_key_" + std::to_wstring(i % 50), std::to_wstring(i));
                db.GetBrowserConfig(L"chrome");
                if (i % 10 == 0) db.CreateProfile(L"Profile " + std::to_wstring(i));
                db.ListProfiles();
                db.ListSnapshots(target);
                db.GetDefaultProfileId();
                if (db.GetSetting(L"missing", L"fallback") != L"fallback") ++failures;
                // A duplicate name fails inside the lock; the other thread must carry on.
                if (i % 30 == 0) {
                    try {
                        db.CreateProfile(L"Sync target");
                        ++failures;
                    } catch (const std::runtime_error&) {
                    }
                }
            } catch (const std::exception& e) {
                noteFailure(e);
            }
        }
    });
    worker.join();
    ui.join();

    EXPECT_EQ(failures.load(), 0) << firstFailure;
    EXPECT_EQ(totalAdded, kRounds);
    EXPECT_EQ(totalSkipped, 2 * kRounds);
    EXPECT_EQ(raw().Int("SELECT count(*) FROM bookmarks WHERE profile_id = " + std::to_string(target)), kRounds);
    EXPECT_EQ(raw().Int("SELECT count(DISTINCT url) FROM bookmarks"), kRounds);
    EXPECT_EQ(raw().Int("SELECT count(*) FROM profiles"), 1 + kRounds / 10);
    EXPECT_EQ(raw().Int("SELECT count(*) FROM profile_backups"), kRounds / 25);
    EXPECT_EQ(raw().Int("SELECT count(*) FROM app_settings"), 10);
    EXPECT_EQ(db.GetSetting(L"ui_key_49", L""), std::to_wstring(kRounds - 1));
}

}  // namespace
}  // namespace bm
