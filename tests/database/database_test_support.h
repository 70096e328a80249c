#pragma once
// Test support for the profile database: an AppDatabase over a fresh file in a private folder, and a
// second, independent connection to the same file through which a test looks at the rows or holds
// locks the way another program would.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "database/app_database.h"
#include "tests/support/temp_dir.h"

namespace bm::test {

class RawConnection {
public:
    explicit RawConnection(const std::wstring& path) {
        if (sqlite3_open_v2(ToUtf8(path).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            throw std::runtime_error("cannot open the test database");
        }
    }
    ~RawConnection() { sqlite3_close(db_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Returns SQLite's result code; failures are left to the test to judge.
    int TryExec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
    void Exec(const std::string& sql) {
        if (TryExec(sql) != SQLITE_OK) throw std::runtime_error(std::string("test SQL failed: ") + sqlite3_errmsg(db_));
    }
    // The first column of the first row as text ("" for none or NULL).
    std::string Text(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("test SQL failed: ") + sqlite3_errmsg(db_));
        std::string value;
        if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
            value.assign(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                         static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
        sqlite3_finalize(statement);
        return value;
    }
    int64_t Int(const std::string& sql) { return std::stoll("0" + Text(sql)); }

    // True when this connection can take the write lock: the other connection holds no transaction.
    bool CanWrite() {
        if (TryExec("BEGIN IMMEDIATE;") != SQLITE_OK) return false;
        Exec("COMMIT;");
        return true;
    }

private:
    sqlite3* db_ = nullptr;
};

inline BookmarkRecord Bookmark(const std::wstring& url, const std::wstring& title,
                               const std::wstring& folder = L"Bookmarks bar", int64_t dateAdded = 1) {
    BookmarkRecord record;
    record.url = url;
    record.title = title;
    record.folder_path = folder;
    record.date_added = dateAdded;
    return record;
}

// Where a damaged page lies in a file made by MakeDamagedDatabase.
enum class DamagedPage {
    BookmarksRoot,    // the root page of the bookmarks table, overwritten with other bytes
    SnapshotPage      // a page inside the snapshot's text (near the end of the file), zeroed
};

// An app_data.db with a saved profile of 2000 bookmarks and a snapshot of it, where one page other
// than the first (which holds the header and the schema) is damaged. Returns the file's bytes.
inline std::string MakeDamagedDatabase(const std::wstring& path, DamagedPage page) {
    {
        AppDatabase db;
        if (!db.Open(path)) throw std::runtime_error("cannot create the test database");
        const int64_t id = db.CreateProfile(L"Work");
        std::vector<BookmarkRecord> records;
        for (int i = 0; i < 2000; ++i)
            records.push_back(Bookmark(L"https://site" + std::to_wstring(i) + L".example/page", L"Title " + std::to_wstring(i)));
        db.AddBookmarks(id, records);
        db.CreateSnapshot(id, L"Auto-backup before sync");
        db.SetSetting(L"theme", L"light");
    }
    int64_t pageSize = 0, pageNumber = 0;
    {
        RawConnection raw(path);
        pageSize = raw.Int("PRAGMA page_size;");
        pageNumber = page == DamagedPage::BookmarksRoot
                         ? raw.Int("SELECT rootpage FROM sqlite_master WHERE name = 'bookmarks'")
                         : raw.Int("PRAGMA page_count;") - 5;
    }
    std::string bytes = ReadTextFile(path);
    if (pageNumber < 2 || static_cast<size_t>(pageNumber * pageSize) > bytes.size())
        throw std::runtime_error("no such page in the test database");
    const char fill = page == DamagedPage::BookmarksRoot ? '\x5A' : '\0';
    std::fill(bytes.begin() + (pageNumber - 1) * pageSize, bytes.begin() + pageNumber * pageSize, fill);
    WriteTextFile(path, bytes);
    return bytes;
}

// A fresh, open AppDatabase in a private folder.
class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.Open(path)); }

    RawConnection& raw() {
        if (!raw_) raw_ = std::make_unique<RawConnection>(path);
        return *raw_;
    }

    TempDir dir;
    std::wstring path = dir / L"app_data.db";
    AppDatabase db;

private:
    std::unique_ptr<RawConnection> raw_;
};

}  // namespace bm::test
