// Saved profiles and their bookmarks.
#include "database/app_database.h"

#include <sqlite3.h>

#include <string>
#include <unordered_set>

#include "core/sql_statement.h"
#include "database/database_failure.h"
#include "database/bookmark_key.h"
#include "database/bookmark_queries.h"
#include "database/sql_transaction.h"

namespace bm {

std::vector<ProfileRecord> AppDatabase::ListProfiles() try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement select = PrepareOrThrow(Connection(), "SELECT id, name, created_at, updated_at FROM profiles ORDER BY name");
    std::vector<ProfileRecord> profiles;
    while (StepRow(select)) {
        ProfileRecord profile;
        profile.id = ColumnInt64(select, 0);
        profile.name = ToWide(ColumnText(select, 1));
        profile.created_at = ColumnInt64(select, 2);
        profile.updated_at = ColumnInt64(select, 3);
        profiles.push_back(std::move(profile));
    }
    return profiles;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

int64_t AppDatabase::CreateProfile(const std::wstring& name) try {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    Statement insert = PrepareOrThrow(conn, "INSERT INTO profiles(name, created_at, updated_at) VALUES(?, ?, ?)");
    const int64_t now = UnixNow();
    BindText(insert, 1, ToUtf8(name));
    BindInt64(insert, 2, now);
    BindInt64(insert, 3, now);
    StepRow(insert);
    return sqlite3_last_insert_rowid(conn);
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

bool AppDatabase::RenameProfile(int64_t profileId, const std::wstring& name) try {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    Statement update = PrepareOrThrow(conn, "UPDATE profiles SET name = ?, updated_at = ? WHERE id = ?");
    BindText(update, 1, ToUtf8(name));
    BindInt64(update, 2, UnixNow());
    BindInt64(update, 3, profileId);
    StepRow(update);
    return sqlite3_changes(conn) > 0;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

bool AppDatabase::DeleteProfile(int64_t profileId) try {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    Statement remove = PrepareOrThrow(conn, "DELETE FROM profiles WHERE id = ?");
    BindInt64(remove, 1, profileId);
    StepRow(remove);  // bookmarks and snapshots go with it (ON DELETE CASCADE)
    return sqlite3_changes(conn) > 0;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

void AppDatabase::TouchProfile(int64_t profileId) try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement update = PrepareOrThrow(WritableConnection(), "UPDATE profiles SET updated_at = ? WHERE id = ?");
    BindInt64(update, 1, UnixNow());
    BindInt64(update, 2, profileId);
    StepRow(update);
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

std::vector<BookmarkRecord> AppDatabase::GetBookmarks(int64_t profileId) try {
    std::lock_guard<std::mutex> lock(mutex);
    // In the order the rows were added (ids only grow), which is the order of the source they came
    // from: a folder's bookmarks as the browser listed them.
    Statement select = PrepareOrThrow(Connection(), kProfileRowsSql);
    BindInt64(select, 1, profileId);
    std::vector<BookmarkRecord> bookmarks;
    while (StepRow(select)) {
        // Each text widened straight from the engine's buffer.
        BookmarkRecord& record = bookmarks.emplace_back();
        record.id = ColumnInt64(select, 0);
        record.profile_id = ColumnInt64(select, 1);
        record.url = ToWide(ColumnTextView(select, 2));
        record.title = ToWide(ColumnTextView(select, 3));
        record.folder_path = ToWide(ColumnTextView(select, 4));
        record.date_added = ColumnInt64(select, 5);
    }
    return bookmarks;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

void AppDatabase::VisitBookmarkTexts(int64_t profileId, const BookmarkTextVisitor& visit) try {
    std::lock_guard<std::mutex> lock(mutex);
    // The order of GetBookmarks, so both give the same list.
    Statement select = PrepareOrThrow(Connection(), kProfileTextsSql);
    BindInt64(select, 1, profileId);
    while (StepRow(select))
        visit(ColumnTextView(select, 0), ColumnTextView(select, 1), ColumnTextView(select, 2));
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

int64_t AppDatabase::CountBookmarks(int64_t profileId) try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement count = PrepareOrThrow(Connection(), kCountProfileRowsSql);
    BindInt64(count, 1, profileId);
    return StepRow(count) ? ColumnInt64(count, 0) : 0;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

void AppDatabase::DeleteBookmarksForProfile(int64_t profileId) try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement remove = PrepareOrThrow(WritableConnection(), kDeleteProfileRowsSql);
    BindInt64(remove, 1, profileId);
    StepRow(remove);
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

int AppDatabase::InsertBookmarks(int64_t profileId, const std::vector<BookmarkRecord>& records, bool profileEmpty,
                                 int& skippedCount) {
    sqlite3* conn = Connection();
    // The keys the profile holds, then those of this call's earlier records: one read of the
    // profile's URLs instead of a look-up per record, and no index on the key to keep up to date.
    std::unordered_set<std::string> keys;
    std::string url, key;
    if (!profileEmpty) {
        Statement stored = PrepareOrThrow(conn, kProfileUrlsSql);
        BindInt64(stored, 1, profileId);
        while (StepRow(stored)) {
            BookmarkKeyOf(ColumnTextView(stored, 0), key);
            keys.insert(key);
        }
    }
    keys.reserve(keys.size() + records.size());
    // Prepared once: a large import would otherwise spend much of its time compiling the same SQL.
    Statement insert = PrepareOrThrow(conn, kInsertBookmarkSql);
    BindInt64(insert, 1, profileId);
    int insertedCount = 0;
    for (const BookmarkRecord& record : records) {
        url = ToUtf8(record.url);
        BookmarkKeyOf(url, key);
        if (!keys.insert(key).second) {
            ++skippedCount;
            continue;
        }
        BindText(insert, 2, url);  // as given: paths, queries and tokens are case-sensitive
        BindText(insert, 3, ToUtf8(record.title));
        BindText(insert, 4, ToUtf8(record.folder_path));
        BindInt64(insert, 5, record.date_added != 0 ? record.date_added : UnixNow());
        StepRow(insert);
        ResetOrThrow(insert);
        ++insertedCount;
    }
    return insertedCount;
}

int AppDatabase::AddBookmarks(int64_t profileId, const std::vector<BookmarkRecord>& records, int* skipped) try {
    std::lock_guard<std::mutex> lock(mutex);
    // Any throw below rolls the whole call back before it reaches the caller.
    ImmediateTransaction transaction(WritableConnection());
    int skippedCount = 0;
    const int insertedCount = InsertBookmarks(profileId, records, false, skippedCount);
    transaction.Commit();
    if (skipped) *skipped = skippedCount;
    return insertedCount;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

int AppDatabase::ReplaceBookmarks(int64_t profileId, const std::vector<BookmarkRecord>& records, int* skipped) try {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    ImmediateTransaction transaction(conn);
    {
        Statement remove = PrepareOrThrow(conn, kDeleteProfileRowsSql);
        BindInt64(remove, 1, profileId);
        StepRow(remove);
    }
    int skippedCount = 0;
    const int insertedCount = InsertBookmarks(profileId, records, true, skippedCount);
    transaction.Commit();
    if (skipped) *skipped = skippedCount;
    return insertedCount;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

}  // namespace bm
