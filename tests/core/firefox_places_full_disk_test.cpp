// places.sqlite on a disk that is full: a write that fails there, and every read after it, end in
// words, never in the end of the process. The small disk is a tmpfs the test mounts (under Wine, as
// root); where it cannot, the test is skipped with the reason.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/firefox_places.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::FirefoxPlaces;
using test::kPlacesMenuId;
using test::kPlacesToolbarId;

// The Linux path of a Windows path, through Wine's own export; empty outside Wine.
std::string UnixPathOf(const std::wstring& path) {
    using Convert = char*(__cdecl*)(const wchar_t*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel ? GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
    const auto convert = found ? reinterpret_cast<Convert>(reinterpret_cast<void*>(found)) : nullptr;
    if (!convert) return {};
    char* unix = convert(path.c_str());
    if (!unix) return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Runs a Linux shell command (Wine starts Linux programs too, but gives no handle to wait on) and
// gives what it printed, or "" when it could not be run. The command writes its output beside a
// private folder and renames it into that folder when it ends; the folder's change is waited for.
std::string RunShell(const std::string& command) {
    test::TempDir talk;
    const std::string folder = UnixPathOf(talk.path());
    if (folder.empty()) return {};
    const std::string script = "(" + command + ") > '" + folder + "/out' 2>&1; echo \"[rc=$?]\" >> '" + folder +
                               "/out'; mv '" + folder + "/out' '" + folder + "/done/out'";
    test::MakeDirs(talk / L"done");
    HANDLE change = FindFirstChangeNotificationW((talk / L"done").c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (change == INVALID_HANDLE_VALUE) return {};
    test::WriteTextFile(talk / L"script", script);
    std::wstring line = L"sh \"" + ToWide(folder + "/script") + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string output;
    if (CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        if (process.hProcess) CloseHandle(process.hProcess);
        if (process.hThread) CloseHandle(process.hThread);
        // The minute bounds only a shell that never runs; a finished one is seen at once.
        while (!test::PathExists(talk / L"done\\out")) {
            if (WaitForSingleObject(change, 60000) != WAIT_OBJECT_0) break;
            FindNextChangeNotification(change);
        }
        if (test::PathExists(talk / L"done\\out")) output = test::ReadTextFile(talk / L"done\\out");
    }
    FindCloseChangeNotification(change);
    return output;
}

bool Succeeded(const std::string& output) { return output.find("[rc=0]") != std::string::npos; }

// A tmpfs of `bytes` mounted on a new folder of a private temporary folder; unmounted with this object.
class SmallDisk {
public:
    explicit SmallDisk(size_t bytes) {
        unixPath_ = UnixPathOf(dir_ / L"disk");
        if (unixPath_.empty()) {
            why_ = "not running under Wine";
            return;
        }
        test::MakeDirs(dir_ / L"disk");
        const std::string output =
            RunShell("mount -t tmpfs -o size=" + std::to_string(bytes) + " orv-small-disk '" + unixPath_ + "'");
        if (!Succeeded(output)) {
            why_ = "a tmpfs could not be mounted (the test needs root): " + output;
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_) RunShell("umount -l '" + unixPath_ + "'");
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    std::wstring path() const { return dir_ / L"disk"; }
    // Fills the disk up to `leave` bytes.
    bool Fill(size_t leave) {
        return Succeeded(RunShell("cat /dev/zero > '" + unixPath_ + "/filler' 2>/dev/null; truncate -s -" +
                                  std::to_string(leave) + " '" + unixPath_ + "/filler'"));
    }

private:
    test::TempDir dir_;
    std::string unixPath_;
    std::string why_;
    bool mounted_ = false;
};

std::vector<BookmarkRecord> ManyRecords(int count) {
    std::vector<BookmarkRecord> records;
    for (int i = 0; i < count; ++i) {
        BookmarkRecord r;
        r.url = L"https://new" + std::to_wstring(i) + L".example/a/rather/long/path/to/fill/the/log/quickly";
        r.title = L"New bookmark number " + std::to_wstring(i) + L" with a title long enough to take room";
        r.folder_path = L"Bookmarks Toolbar/New " + std::to_wstring(i % 50);
        records.push_back(std::move(r));
    }
    return records;
}

// The names in a folder.
std::set<std::wstring> NamesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do
        if (std::wstring(data.cFileName) != L"." && std::wstring(data.cFileName) != L"..") names.insert(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// This program's merge of many bookmarks into the file on the full disk: it fails, and says why.
void FailedMerge(const std::wstring& path) {
    std::wstring error;
    int skipped = -7;
    EXPECT_EQ(WriteFirefoxBookmarks(path, ManyRecords(20000), &skipped, &error, false), -1);
    EXPECT_EQ(error, L"The disk is full; it was not changed.");
    EXPECT_EQ(skipped, -7);
}

TEST(PlacesOnAFullDisk, AWriteThatFailsThereAndEveryReadAfterItEndInWords) {
    struct Case {
        const char* what;
        // What Firefox left beside the file before the disk filled up: the bookmarks in its -wal.
        int inTheWal;
    };
    // A -wal and the -shm of its index, as Firefox leaves them when it ends without closing the
    // file: the -shm is a sparse file, only the pages its index used are on the disk. Firefox's
    // own write failing on the full disk leaves the same.
    const Case cases[] = {
        {"a file Firefox closed", 0},
        {"a -wal and -shm beside it", 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SmallDisk disk(4 << 20);
        if (!disk.mounted()) GTEST_SKIP() << disk.why();
        const std::wstring path = disk.path() + L"\\places.sqlite";
        test::CreateFirefoxPlaces(path);
        {
            FirefoxPlaces places(path);
            places.Exec("BEGIN;");
            for (int i = 0; i < 300; ++i)
                places.AddBookmark(kPlacesToolbarId, "https://site" + std::to_string(i) + ".example/",
                                   "Site " + std::to_string(i));
            places.Exec("COMMIT;");
            if (c.inTheWal > 0) {
                places.Exec("PRAGMA wal_autocheckpoint = 0;");
                places.Exec("BEGIN;");
                for (int i = 0; i < c.inTheWal; ++i)
                    places.AddBookmark(kPlacesMenuId, "https://late" + std::to_string(i) + ".example/", "Late");
                places.Exec("COMMIT;");
                sqlite3_db_config(places.db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
            }
        }
        ASSERT_EQ(test::PathExists(path + L"-wal"), c.inTheWal > 0);
        ASSERT_EQ(test::PathExists(path + L"-shm"), c.inTheWal > 0);
        ASSERT_TRUE(disk.Fill(1 << 20));
        const std::set<std::wstring> found = NamesIn(disk.path());
        const size_t bookmarks = 300 + static_cast<size_t>(c.inTheWal);

        // Each read, before and after the failed merge: whole (the merge committed nothing), in the
        // process that wrote; and the folder as it was found.
        std::wstring error;
        EXPECT_EQ(ReadFirefoxBookmarks(path, &error).size(), bookmarks);
        EXPECT_EQ(error, L"");
        FailedMerge(path);
        EXPECT_EQ(NamesIn(disk.path()), found);
        for (int read = 0; read < 2; ++read) {
            error.clear();
            EXPECT_EQ(ReadFirefoxBookmarks(path, &error).size(), bookmarks);
            EXPECT_EQ(error, L"");
            EXPECT_EQ(NamesIn(disk.path()), found);
        }
        int skipped = -7;
        EXPECT_EQ(CountFirefoxMergeAdditions(path, ManyRecords(10), &skipped), 10);
        EXPECT_EQ(NamesIn(disk.path()), found);
    }
}

}  // namespace
}  // namespace bm
