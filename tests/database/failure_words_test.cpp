// What a failure of app_data.db says: in the user's words, one or two sentences, no text of the
// library, and nothing changed. Each row a real failure: a file layer whose writes fail as a full or
// failing disk makes them fail, a read-only file, another program's lock, a damaged page.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/sql_statement.h"
#include "tests/database/database_test_support.h"

namespace bm {
namespace {

// SQLite's Windows file layer (the one AppDatabase names), with writes that fail with `g_writeFailure`
// while it is not SQLITE_OK, as the layer itself fails them when Windows says the disk is full or
// cannot be written.
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_shim;
sqlite3_io_methods g_methods;
int g_writeFailure = SQLITE_OK;
// Opens the database file for reading only, as the layer does when Windows refuses to open it for
// writing (a read-only file, or a medium that cannot be written).
bool g_readOnlyMedium = false;

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;
};
sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file)->real; }

int ShimWrite(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    if (g_writeFailure != SQLITE_OK) return g_writeFailure;
    return Real(f)->pMethods->xWrite(Real(f), data, amount, offset);
}
int ShimClose(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int ShimRead(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
    return Real(f)->pMethods->xRead(Real(f), data, amount, offset);
}
int ShimTruncate(sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); }
int ShimSync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int ShimFileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int ShimLock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int ShimUnlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int ShimCheckReserved(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int ShimFileControl(sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); }
int ShimSectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int ShimDevice(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShimShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int ShimShmLock(sqlite3_file* f, int offset, int n, int flags) { return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags); }
void ShimShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShimShmUnmap(sqlite3_file* f, int remove) { return Real(f)->pMethods->xShmUnmap(Real(f), remove); }
int ShimFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}
int ShimUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) { return Real(f)->pMethods->xUnfetch(Real(f), offset, p); }

int ShimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(file);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    shim->base.pMethods = nullptr;
    if (g_readOnlyMedium && (flags & SQLITE_OPEN_MAIN_DB))
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    const int rc = g_real->xOpen(g_real, name, shim->real, flags, outFlags);
    if (shim->real->pMethods) {
        g_methods.iVersion = shim->real->pMethods->iVersion;
        shim->base.pMethods = &g_methods;
    }
    return rc;
}
int ShimDelete(sqlite3_vfs*, const char* name, int syncDir) { return g_real->xDelete(g_real, name, syncDir); }
int ShimAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int ShimFullPath(sqlite3_vfs*, const char* name, int size, char* out) { return g_real->xFullPathname(g_real, name, size, out); }
int ShimRandom(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int ShimSleep(sqlite3_vfs*, int micro) { return g_real->xSleep(g_real, micro); }
int ShimTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int ShimLastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int ShimTime64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

void InstallFailingDisk() {
    if (g_real) return;
    g_real = sqlite3_vfs_find(kLongPathVfs);
    ASSERT_NE(g_real, nullptr);
    g_methods = {};
    g_methods.xClose = ShimClose;
    g_methods.xRead = ShimRead;
    g_methods.xWrite = ShimWrite;
    g_methods.xTruncate = ShimTruncate;
    g_methods.xSync = ShimSync;
    g_methods.xFileSize = ShimFileSize;
    g_methods.xLock = ShimLock;
    g_methods.xUnlock = ShimUnlock;
    g_methods.xCheckReservedLock = ShimCheckReserved;
    g_methods.xFileControl = ShimFileControl;
    g_methods.xSectorSize = ShimSectorSize;
    g_methods.xDeviceCharacteristics = ShimDevice;
    g_methods.xShmMap = ShimShmMap;
    g_methods.xShmLock = ShimShmLock;
    g_methods.xShmBarrier = ShimShmBarrier;
    g_methods.xShmUnmap = ShimShmUnmap;
    g_methods.xFetch = ShimFetch;
    g_methods.xUnfetch = ShimUnfetch;
    g_shim = {};
    g_shim.iVersion = 2;
    g_shim.szOsFile = static_cast<int>(sizeof(ShimFile)) + g_real->szOsFile;
    g_shim.mxPathname = g_real->mxPathname;
    g_shim.zName = kLongPathVfs;  // found before the real one: registered right after the default
    g_shim.xOpen = ShimOpen;
    g_shim.xDelete = ShimDelete;
    g_shim.xAccess = ShimAccess;
    g_shim.xFullPathname = ShimFullPath;
    g_shim.xRandomness = ShimRandom;
    g_shim.xSleep = ShimSleep;
    g_shim.xCurrentTime = ShimTime;
    g_shim.xGetLastError = ShimLastError;
    g_shim.xCurrentTimeInt64 = ShimTime64;
    ASSERT_EQ(sqlite3_vfs_register(&g_shim, 0), SQLITE_OK);
    ASSERT_EQ(sqlite3_vfs_find(kLongPathVfs), &g_shim);
}

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(DatabaseFailureWords, EachFailureOfTheFileIsSaidInTheUsersWords) {
    InstallFailingDisk();
    const struct {
        const char* name;
        // Brings the failure about on the open database (and its file, and a second connection).
        std::function<void(AppDatabase&, const std::wstring& path, test::RawConnection& other)> cause;
        const char* says;
    } cases[] = {
        {"a full disk", [](AppDatabase&, const std::wstring&, test::RawConnection&) { g_writeFailure = SQLITE_FULL; },
         "app_data.db could not be saved: the disk is full. Nothing was changed; free some space and try again."},
        {"a disk that fails a write",
         [](AppDatabase&, const std::wstring&, test::RawConnection&) { g_writeFailure = SQLITE_IOERR_WRITE; },
         "app_data.db could not be read or written: the disk reported an error. Nothing was changed."},
        {"a read-only file or medium",
         [](AppDatabase& db, const std::wstring& path, test::RawConnection&) {
             db.Close();
             g_readOnlyMedium = true;
             ASSERT_TRUE(db.Open(path));
             g_readOnlyMedium = false;
             EXPECT_TRUE(db.ReadOnly());
             db.WaitForFileCheck();
         },
         "app_data.db could not be saved: the file, or the disk it is on, is read-only. Nothing was changed."},
        {"another program's lock",
         [](AppDatabase&, const std::wstring&, test::RawConnection& other) { other.Exec("BEGIN EXCLUSIVE;"); },
         "app_data.db is in use by another program, so nothing was changed; try again once that program has "
         "closed it."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::wstring path = dir / L"app_data.db";
        AppDatabase db;
        ASSERT_TRUE(db.Open(path));
        const int64_t profile = db.CreateProfile(L"Work");
        db.AddBookmarks(profile, {test::Bookmark(L"https://kept.example", L"Kept")});
        {
            test::RawConnection other(path);
            c.cause(db, path, other);
            // Every kind of write says the same, and nothing of it is stored.
            EXPECT_EQ(ErrorOf([&] { db.AddBookmarks(profile, {test::Bookmark(L"https://new.example", L"New")}); }), c.says);
            EXPECT_EQ(ErrorOf([&] { db.CreateProfile(L"Other"); }), c.says);
            EXPECT_EQ(ErrorOf([&] { db.CreateSnapshot(profile, L"Auto-backup before sync"); }), c.says);
            EXPECT_EQ(ErrorOf([&] { db.SetSetting(L"theme", L"dark"); }), c.says);
            g_writeFailure = SQLITE_OK;
            other.TryExec("ROLLBACK;");
        }
        EXPECT_EQ(db.GetBookmarks(profile).size(), 1u);
        EXPECT_EQ(db.ListProfiles().size(), 1u);
        EXPECT_TRUE(db.ListSnapshots(profile).empty());
        EXPECT_EQ(db.GetSetting(L"theme", L"none"), L"none");
    }
}

}  // namespace
}  // namespace bm
