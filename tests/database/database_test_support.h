#pragma once
// Test support for the profile database: an AppDatabase over a fresh file in a private folder, and a
// second, independent connection to the same file through which a test looks at the rows or holds
// locks the way another program would.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

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
