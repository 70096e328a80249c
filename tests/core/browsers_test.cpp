#include "core/browsers.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::TempDir;
using test::WriteTextFile;

// Minutes after an arbitrary fixed moment, as a file time.
void SetWriteTime(const std::wstring& path, int minutes) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ULARGE_INTEGER t;
    t.QuadPart = 133000000000000000ULL + static_cast<ULONGLONG>(minutes) * 600000000ULL;
    FILETIME time{t.LowPart, t.HighPart};
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
}

// A user's local and roaming application-data folders.
struct UserFolders {
    TempDir dir;
    std::wstring local = dir / L"Local";
    std::wstring roaming = dir / L"Roaming";
    UserFolders() {
        test::MakeDirs(local);
        test::MakeDirs(roaming);
    }
    std::vector<BrowserInfo> Detect() const { return DetectBrowsersIn(local, roaming); }
};

TEST(KnownBrowsers, KeysAndDisplayNames) {
    struct Case {
        int value;
        const wchar_t* key;
        const wchar_t* displayName;
    };
    const Case cases[] = {
        {0, L"chrome", L"Google Chrome"}, {1, L"edge", L"Microsoft Edge"}, {2, L"brave", L"Brave"},
        {3, L"opera", L"Opera"},          {4, L"opera_gx", L"Opera GX"},   {5, L"vivaldi", L"Vivaldi"},
        {6, L"firefox", L"Mozilla Firefox"}, {7, L"unknown", L"Unknown Browser"}, {-1, L"unknown", L"Unknown Browser"},
        {1000, L"unknown", L"Unknown Browser"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BrowserKey(static_cast<BrowserKind>(c.value)), c.key) << c.value;
        EXPECT_STREQ(BrowserDisplayName(static_cast<BrowserKind>(c.value)), c.displayName) << c.value;
    }
}

TEST(KnownBrowsers, ParentDirectoryCutsAtTheLastSeparator) {
    EXPECT_EQ(ParentDirectory(L"C:\\a\\b/Bookmarks"), L"C:\\a\\b");
    EXPECT_EQ(ParentDirectory(L"C:/a/b\\Bookmarks"), L"C:/a/b");
    EXPECT_EQ(ParentDirectory(L"\\Bookmarks"), L"");
    EXPECT_EQ(ParentDirectory(L"Bookmarks"), L"");
    EXPECT_EQ(ParentDirectory(L"C:\\a\\"), L"C:\\a");
}

TEST(KnownBrowsers, FileExistsOnlyForFiles) {
    TempDir dir;
    WriteTextFile(dir / L"file", "x");
    test::MakeDirs(dir / L"folder");
    EXPECT_TRUE(FileExists(dir / L"file"));
    EXPECT_FALSE(FileExists(dir / L"folder"));
    EXPECT_FALSE(FileExists(dir / L"missing"));
    EXPECT_FALSE(FileExists(L""));
}

TEST(BrowserDetection, NothingInstalledGivesSevenEntriesInTheirFixedOrder) {
    UserFolders user;
    const std::vector<BrowserInfo> list = user.Detect();
    struct Expected {
        BrowserKind kind;
        const wchar_t* exeName;
        std::wstring dataDir;
    };
    const Expected expected[] = {
        {BrowserKind::Chrome, L"chrome.exe", user.local + L"\\Google\\Chrome\\User Data"},
        {BrowserKind::Edge, L"msedge.exe", user.local + L"\\Microsoft\\Edge\\User Data"},
        {BrowserKind::Brave, L"brave.exe", user.local + L"\\BraveSoftware\\Brave-Browser\\User Data"},
        {BrowserKind::Vivaldi, L"vivaldi.exe", user.local + L"\\Vivaldi\\User Data"},
        {BrowserKind::Opera, L"opera.exe", user.roaming + L"\\Opera Software\\Opera Stable"},
        {BrowserKind::OperaGx, L"opera.exe", user.roaming + L"\\Opera Software\\Opera GX Stable"},
    };
    ASSERT_EQ(list.size(), 7u);
    for (size_t i = 0; i < 6; ++i) {
        const BrowserInfo& entry = list[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.kind, expected[i].kind);
        EXPECT_EQ(entry.displayName, BrowserDisplayName(expected[i].kind));
        EXPECT_EQ(entry.exeName, expected[i].exeName);
        EXPECT_EQ(entry.profileDir, expected[i].dataDir + L"\\Default");
        EXPECT_EQ(entry.bookmarksPath, expected[i].dataDir + L"\\Default\\Bookmarks");
        EXPECT_FALSE(entry.detected);
        EXPECT_FALSE(entry.running);
        EXPECT_FALSE(entry.hasCustomPath);
    }
    const BrowserInfo& firefox = list[6];
    EXPECT_EQ(firefox.kind, BrowserKind::Firefox);
    EXPECT_EQ(firefox.displayName, L"Mozilla Firefox");
    EXPECT_EQ(firefox.exeName, L"firefox.exe");
    EXPECT_EQ(firefox.profileDir, user.roaming + L"\\Mozilla\\Firefox");
    EXPECT_EQ(firefox.bookmarksPath, L"");
    EXPECT_FALSE(firefox.detected || firefox.running || firefox.hasCustomPath);
}

TEST(BrowserDetection, ADataFolderWithoutProfilesCountsAsFound) {
    UserFolders user;
    const std::wstring edge = user.local + L"\\Microsoft\\Edge\\User Data";
    test::MakeDirs(edge + L"\\Crashpad");
    WriteTextFile(edge + L"\\Local State", "{}");
    const BrowserInfo entry = user.Detect()[1];
    EXPECT_TRUE(entry.detected);
    EXPECT_EQ(entry.profileDir, edge + L"\\Default");
    EXPECT_EQ(entry.bookmarksPath, edge + L"\\Default\\Bookmarks");
}

TEST(BrowserDetection, TheMostRecentlyUsedChromiumProfileIsChosen) {
    struct File {
        const wchar_t* path;  // below the data folder; "" is the data folder itself
        int minutes;          // write time
    };
    struct Case {
        const char* name;
        std::vector<File> files;
        const wchar_t* chosen;  // profile folder below the data folder, "" for the data folder itself
    };
    const Case cases[] = {
        {"a later Bookmarks wins", {{L"Default\\Bookmarks", 10}, {L"Profile 1\\Bookmarks", 20}}, L"Profile 1"},
        {"equal times keep Default", {{L"Profile 1\\Bookmarks", 10}, {L"Default\\Bookmarks", 10}}, L"Default"},
        {"equal times keep the data folder before Default",
         {{L"Preferences", 10}, {L"Default\\Bookmarks", 10}}, L""},
        {"Bookmarks time beats a later Preferences",
         {{L"Default\\Bookmarks", 10}, {L"Default\\Preferences", 90}, {L"Profile 2\\Bookmarks", 20}}, L"Profile 2"},
        {"Preferences alone qualifies and dates the profile",
         {{L"Default\\Bookmarks", 10}, {L"Profile 3\\Preferences", 30}}, L"Profile 3"},
        {"Secure Preferences when there is nothing else",
         {{L"Default\\Preferences", 10}, {L"Profile 4\\Secure Preferences", 40}}, L"Profile 4"},
        {"folders beginning with a dot are skipped",
         {{L"Default\\Bookmarks", 10}, {L".backup\\Preferences", 99}, {L"..x\\Bookmarks", 99}}, L"Default"},
        {"a folder without profile files is no candidate",
         {{L"Profile 1\\Bookmarks", 10}, {L"Crashpad\\settings.dat", 99}, {L"Profile 9\\Bookmarks.bak", 99}},
         L"Profile 1"},
        {"the data folder itself is a profile", {{L"Preferences", 50}, {L"Bookmarks", 5}, {L"Default\\Bookmarks", 20}},
         L"Default"},
        {"the data folder itself wins when newest", {{L"Bookmarks", 60}, {L"Default\\Bookmarks", 20}}, L""},
        {"a Bookmarks folder is no file", {{L"Default\\Bookmarks\\x", 10}, {L"Profile 1\\Bookmarks", 5}}, L"Profile 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UserFolders user;
        const std::wstring data = user.local + L"\\BraveSoftware\\Brave-Browser\\User Data";
        for (const File& f : c.files) {
            const std::wstring path = data + L"\\" + f.path;
            WriteTextFile(path, "{}");
            SetWriteTime(path, f.minutes);
        }
        const std::wstring folder = *c.chosen ? data + L"\\" + c.chosen : data;
        const BrowserInfo entry = user.Detect()[2];
        EXPECT_EQ(entry.kind, BrowserKind::Brave);
        EXPECT_TRUE(entry.detected);
        EXPECT_EQ(entry.profileDir, folder);
        EXPECT_EQ(entry.bookmarksPath, folder + L"\\Bookmarks");
        EXPECT_EQ(FindBestChromiumProfile(data), folder + L"\\Bookmarks");
    }
}

TEST(BrowserDetection, OperaKeepsItsProfileInTheDataFolder) {
    UserFolders user;
    const std::wstring opera = user.roaming + L"\\Opera Software\\Opera Stable";
    WriteTextFile(opera + L"\\Preferences", "{}");
    const std::vector<BrowserInfo> list = user.Detect();
    EXPECT_TRUE(list[4].detected);
    EXPECT_EQ(list[4].profileDir, opera);
    EXPECT_EQ(list[4].bookmarksPath, opera + L"\\Bookmarks");
    EXPECT_FALSE(FileExists(list[4].bookmarksPath));
    EXPECT_FALSE(list[5].detected);  // Opera GX is another folder
}

TEST(BrowserDetection, FirefoxIsFoundThroughProfilesIni) {
    UserFolders user;
    const std::wstring root = user.roaming + L"\\Mozilla\\Firefox";
    WriteTextFile(root + L"\\profiles.ini", "[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/k2.default\r\n");

    BrowserInfo firefox = user.Detect()[6];
    EXPECT_EQ(firefox.bookmarksPath, root + L"\\Profiles\\k2.default\\places.sqlite");
    EXPECT_EQ(firefox.profileDir, root);
    EXPECT_FALSE(firefox.detected);  // the profile has no places.sqlite yet

    WriteTextFile(root + L"\\Profiles\\k2.default\\places.sqlite", "SQLite format 3");
    firefox = user.Detect()[6];
    EXPECT_TRUE(firefox.detected);
    EXPECT_EQ(firefox.bookmarksPath, root + L"\\Profiles\\k2.default\\places.sqlite");
}

TEST(BrowserDetection, TheUsersOwnFoldersComeFromTheSystem) {
    const std::wstring local = GetLocalAppDataDir();
    const std::wstring roaming = GetRoamingAppDataDir();
    ASSERT_FALSE(local.empty());
    ASSERT_FALSE(roaming.empty());
    EXPECT_NE(local, roaming);
    EXPECT_NE(local.back(), L'\\');
    EXPECT_NE(GetFileAttributesW(local.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::vector<BrowserInfo> list = DetectBrowsers();
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[0].bookmarksPath.rfind(local + L"\\Google\\Chrome\\User Data\\", 0), 0u);
    EXPECT_EQ(list[6].profileDir, roaming + L"\\Mozilla\\Firefox");
}

}  // namespace
}  // namespace bm
