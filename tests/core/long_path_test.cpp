// Every file the core reads or writes, in a folder whose path is longer than 260 characters (with
// non-ASCII names, so SQLite's byte limit is passed too).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/firefox_places.h"
#include "core/portable_export.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::ReadTextFile;
using test::TempDir;

std::vector<BookmarkRecord> Records() {
    std::vector<BookmarkRecord> records;
    for (int i = 0; i < 3; ++i) {
        BookmarkRecord record;
        record.url = L"https://site" + std::to_wstring(i) + L".example/";
        record.title = L"Site " + std::to_wstring(i);
        record.folder_path = L"Bookmarks bar/Deep";
        record.date_added = 1700000000 + i;
        records.push_back(record);
    }
    return records;
}

std::vector<std::wstring> Urls(const std::vector<BookmarkRecord>& records) {
    std::vector<std::wstring> urls;
    for (const BookmarkRecord& record : records) urls.push_back(NormalizeUrl(record.url));
    std::sort(urls.begin(), urls.end());
    return urls;
}

class LongPath : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.path();
        for (wchar_t part = L'\u65e5'; folder.size() < 420; ++part) folder += L"\\" + std::wstring(60, part);
        test::MakeDirs(folder);
        ASSERT_GT(folder.size(), 400u);
        ASSERT_GT(ToUtf8(folder).size(), 1040u);
    }
    TempDir dir;
    std::wstring folder;
};

TEST_F(LongPath, ChromiumWriteReadBackupAndRestore) {
    const std::wstring file = folder + L"\\Bookmarks";
    std::wstring error;
    int skipped = 0;
    ASSERT_EQ(WriteChromiumBookmarks(file, Records(), &skipped, &error, false), 3) << ToUtf8(error);
    EXPECT_EQ(Urls(ReadChromiumBookmarks(file, &error)), Urls(Records())) << ToUtf8(error);

    const std::string written = ReadTextFile(file);
    const std::optional<std::wstring> backup = BackupFile(file, &error);
    ASSERT_TRUE(backup.has_value()) << ToUtf8(error);
    ASSERT_EQ(ListFileBackups(file).size(), 1u);
    EXPECT_EQ(ReadTextFile(*backup), written);

    ASSERT_EQ(WriteChromiumBookmarks(file, {}, &skipped, &error, true), 0) << ToUtf8(error);
    EXPECT_TRUE(ReadChromiumBookmarks(file, &error).empty());
    ASSERT_TRUE(RestoreFileBackup(file, *backup, &error)) << ToUtf8(error);
    EXPECT_EQ(ReadTextFile(file), written);
}

TEST_F(LongPath, FirefoxWriteReadBackupAndRestore) {
    const std::wstring places = folder + L"\\places.sqlite";
    test::CreateFirefoxPlaces(places);  // in WAL mode, as Firefox keeps it
    std::wstring error;
    int skipped = 0;
    ASSERT_EQ(WriteFirefoxBookmarks(places, Records(), &skipped, &error, false), 3) << ToUtf8(error);
    EXPECT_EQ(Urls(ReadFirefoxBookmarks(places, &error)), Urls(Records())) << ToUtf8(error);

    const std::optional<std::wstring> backup = BackupFile(places, &error);
    ASSERT_TRUE(backup.has_value()) << ToUtf8(error);
    ASSERT_EQ(WriteFirefoxBookmarks(places, {}, &skipped, &error, true), 0) << ToUtf8(error);
    EXPECT_TRUE(ReadFirefoxBookmarks(places, &error).empty());
    ASSERT_TRUE(RestoreFileBackup(places, *backup, &error)) << ToUtf8(error);
    EXPECT_EQ(Urls(ReadFirefoxBookmarks(places, &error)), Urls(Records())) << ToUtf8(error);
}

TEST_F(LongPath, JsonAndHtmlExportAndImport) {
    for (const wchar_t* name : {L"\\export.json", L"\\export.html"}) {
        const std::wstring file = folder + name;
        std::wstring error;
        ASSERT_TRUE(ExportBookmarks(Records(), file, &error)) << ToUtf8(name) << ": " << ToUtf8(error);
        EXPECT_EQ(Urls(ImportBookmarks(file, &error)), Urls(Records())) << ToUtf8(name) << ": " << ToUtf8(error);
    }
}

}  // namespace
}  // namespace bm
