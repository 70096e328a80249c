#include "core/file_io.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::PathExists;
using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// What a write of this process, killed after it had made its temporary file, left behind under the
// names earlier releases chose ("<pid>-<n>"): the next process often gets the same id under Wine.
std::vector<std::wstring> PlantSamePidLeftovers(const std::wstring& target, int count) {
    std::vector<std::wstring> planted;
    for (int n = 0; n < count; ++n) {
        planted.push_back(target + L".orvtmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n));
        WriteTextFile(planted.back(), "half a wri");
    }
    return planted;
}

TEST(LeftoverTemporaries, NamesThatMatchExactly) {
    struct Case {
        const wchar_t* name;
        bool ours;
    };
    const Case cases[] = {
        {L"Bookmarks.orvtmp-412-0", true},
        {L"Bookmarks.orvtmp-412-17", true},
        {L"bookmarks.ORVTMP-412-17", false},  // the marker is always written in lower case
        {L"BOOKMARKS.orvtmp-412-17", true},   // file names compare without case
        {L"Bookmarks.orvtmp-412-3-0123456789abcdef", true},
        {L"Bookmarks.orvtmp-412-3-0123456789ABCDEF", false},
        {L"Bookmarks.orvtmp-412-3-0123456789abcde", false},
        {L"Bookmarks.orvtmp-412-3-0123456789abcdef0", false},
        {L"Bookmarks.orvtmp-412-3-", false},
        {L"Bookmarks.orvtmp-412-", false},
        {L"Bookmarks.orvtmp-412", false},
        {L"Bookmarks.orvtmp--3", false},
        {L"Bookmarks.orvtmp-", false},
        {L"Bookmarks.orvtmp-4x2-3", false},
        {L"Bookmarks.orvtmp-412-3.bak", false},
        {L"Bookmarks.orvtmp-412-3-0123456789abcdef.bak", false},
        {L"Bookmarks", false},
        {L"Bookmarks.bak", false},
        {L"Bookmarks.json.orvtmp-1-2", false},
        {L"Other.orvtmp-1-2", false},
        {L"XBookmarks.orvtmp-1-2", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsLeftoverTemporaryName(c.name, L"Bookmarks"), c.ours) << c.name;
    EXPECT_FALSE(IsLeftoverTemporaryName(L".orvtmp-1-2", L""));
}

TEST(LeftoverTemporaries, SamePidLeftoversNeitherBlockTheNextWriteNorStay) {
    TempDir dir;
    const std::wstring target = dir / L"Bookmarks";
    WriteTextFile(target, "old");
    const auto planted = PlantSamePidLeftovers(target, 64);

    FileWriteError error;
    ASSERT_TRUE(WriteFileReplacing(target, "new content", &error)) << DescribeWriteError(error);
    EXPECT_EQ(ReadTextFile(target), "new content");
    for (const std::wstring& leftover : planted) EXPECT_FALSE(PathExists(leftover));
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::wstring>{L"Bookmarks"});

    // The same for a copy put in place (a restore from a backup).
    const std::wstring source = dir / L"source.bak";
    WriteTextFile(source, "restored");
    const auto plantedAgain = PlantSamePidLeftovers(target, 64);
    ASSERT_TRUE(CopyFileReplacing(source, target, &error)) << DescribeWriteError(error);
    EXPECT_EQ(ReadTextFile(target), "restored");
    for (const std::wstring& leftover : plantedAgain) EXPECT_FALSE(PathExists(leftover));
}

TEST(LeftoverTemporaries, OnlyOurOwnUnusedFilesAreRemoved) {
    TempDir dir;
    const std::wstring target = dir / L"Bookmarks";
    WriteTextFile(target, "old");
    const std::vector<std::wstring> ours = {L"Bookmarks.orvtmp-99-1", L"Bookmarks.orvtmp-7-0-00ff00ff00ff00ff",
                                            L"Bookmarks.orvtmp-8-2"};
    for (const auto& name : ours) WriteTextFile(dir / name, "left over");
    test::SetReadOnly(dir / L"Bookmarks.orvtmp-8-2", true);
    const std::vector<std::wstring> others = {
        L"Bookmarks.bak", L"Bookmarks.orvtmp-1-2.bak", L"Bookmarks.orvtmp-x", L"Bookmarks.orvtmp-3-4-notHex",
        L"Bookmarks.orvtmp-5-6-0123456789ABCDEF", L"Other.orvtmp-1-2", L"Bookmarks.json.orvtmp-1-2"};
    for (const auto& name : others) WriteTextFile(dir / name, "not ours");
    // A folder with our pattern, and a temporary file another write still holds open.
    ASSERT_TRUE(CreateDirectoryW((dir / L"Bookmarks.orvtmp-10-10").c_str(), nullptr));
    const std::wstring busy = dir / L"Bookmarks.orvtmp-11-11";
    HANDLE held = CreateFileW(busy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    FileWriteError error;
    ASSERT_TRUE(WriteFileReplacing(target, "new", &error)) << DescribeWriteError(error);
    CloseHandle(held);

    EXPECT_EQ(ReadTextFile(target), "new");
    for (const auto& name : ours) EXPECT_FALSE(PathExists(dir / name)) << name;
    for (const auto& name : others) EXPECT_EQ(ReadTextFile(dir / name), "not ours");
    EXPECT_TRUE(PathExists(dir / L"Bookmarks.orvtmp-10-10"));
    EXPECT_TRUE(PathExists(busy));
    // Once nobody holds it, the next write removes it.
    ASSERT_TRUE(WriteFileReplacing(target, "newer", &error));
    EXPECT_FALSE(PathExists(busy));
}

TEST(LeftoverTemporaries, AFailedReplaceLeavesNothingBeside) {
    // The target is a folder: the temporary file is written, cannot be put in place and is removed.
    TempDir dir;
    const std::wstring target = dir / L"Bookmarks";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    FileWriteError error;
    EXPECT_FALSE(WriteFileReplacing(target, "x", &error));
    EXPECT_EQ(error.stage, FileWriteStage::Replace);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::wstring>{L"Bookmarks"});
}

TEST(ReadFileBytes, TellsAMissingFileFromOneThatCannotBeRead) {
    TempDir dir;
    std::string bytes;
    bool missing = false;
    EXPECT_FALSE(ReadFileBytes(dir / L"absent", bytes, &missing));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(ReadFileBytes(dir / L"no folder\\absent", bytes, &missing));
    EXPECT_TRUE(missing);

    const std::wstring locked = dir / L"locked";
    WriteTextFile(locked, "x");
    HANDLE held = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFileBytes(locked, bytes, &missing));
    EXPECT_FALSE(missing);
    CloseHandle(held);
    EXPECT_FALSE(ReadFileBytes(dir.path(), bytes, &missing));  // a folder
    EXPECT_FALSE(missing);
    EXPECT_TRUE(ReadFileBytes(locked, bytes, &missing));
    EXPECT_EQ(bytes, "x");
}

}  // namespace
}  // namespace bm
