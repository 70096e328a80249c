#include "core/firefox_places.h"

#include <gtest/gtest.h>

#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

TEST(PlacesUrlHash, MatchesFirefoxCheckValues) {
    EXPECT_EQ(PlacesUrlHash("http://www.example.com"), 0x72262c1a3496LL);
    EXPECT_EQ(PlacesUrlHash("www.example.com"), 0x8b149337LL);
}

TEST(FirefoxFixture, CreatesRoots) {
    test::TempDir dir;
    const std::wstring path = dir / L"places.sqlite";
    test::CreateFirefoxPlaces(path);
    test::FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks"), 6);
    const int64_t folder = places.AddFolder(test::kPlacesToolbarId, "Dev");
    places.AddBookmark(folder, "https://example.com/", "Example");
    std::wstring error;
    const auto records = ReadFirefoxBookmarks(path, &error);
    ASSERT_EQ(records.size(), 1u) << ToUtf8(error);
    EXPECT_EQ(records[0].folder_path, L"Bookmarks Toolbar/Dev");
}

}  // namespace
}  // namespace bm
