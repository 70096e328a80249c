// Snapshots of saved profiles: JSON copies of all their bookmarks, the newest 20 kept per profile.
#include "database/app_database.h"

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/sql_statement.h"
#include "database/database_failure.h"
#include "database/bookmark_queries.h"
#include "database/snapshot_text.h"
#include "database/sql_transaction.h"

namespace bm {
namespace {

constexpr int64_t kSnapshotsKept = 20;

}  // namespace

int64_t AppDatabase::CreateSnapshot(int64_t profileId, const std::wstring& label) try {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    // Read, insert and prune together: the snapshot holds exactly the rows of one moment, and a kill
    // between the insert and the prune cannot leave more than the bound.
    ImmediateTransaction transaction(conn);
    const int64_t snapshotId = WriteSnapshot(profileId, label);
    transaction.Commit();
    return snapshotId;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

int64_t AppDatabase::WriteSnapshot(int64_t profileId, const std::wstring& label, int64_t keepId) {
    sqlite3* conn = Connection();
    // Written straight from the engine's buffers, in the order the rows were added.
    SnapshotTextWriter writer;
    {
        Statement select = PrepareOrThrow(conn, kSnapshotRowsSql);
        BindInt64(select, 1, profileId);
        while (StepRow(select)) {
            if (!writer.Add(ColumnInt64(select, 3), ColumnTextView(select, 2), ColumnTextView(select, 1),
                            ColumnTextView(select, 0))) {
                // Only a file changed by another program holds such bytes; JSON cannot.
                throw std::runtime_error("A bookmark of this profile holds text that is not valid UTF-8 (\"" +
                                         std::string(ColumnTextView(select, 1).substr(0, 80)) +
                                         "\"), so no snapshot can hold it.");
            }
        }
    }
    const int32_t count = writer.count();
    const std::string text = writer.Finish();

    int64_t snapshotId = 0;
    {
        Statement insert = PrepareOrThrow(
            conn,
            "INSERT INTO profile_backups(profile_id, created_at, label, bookmark_count, snapshot_json) VALUES(?, ?, ?, ?, ?)");
        BindInt64(insert, 1, profileId);
        BindInt64(insert, 2, UnixNow());
        BindText(insert, 3, ToUtf8(label));
        BindInt64(insert, 4, count);
        BindText(insert, 5, text);
        StepRow(insert);
        snapshotId = sqlite3_last_insert_rowid(conn);
    }
    {
        Statement prune = PrepareOrThrow(conn, kPruneSnapshotsSql);
        BindInt64(prune, 1, profileId);
        BindInt64(prune, 2, keepId);
        BindInt64(prune, 3, kSnapshotsKept);
        StepRow(prune);
    }
    return snapshotId;
}

std::vector<SnapshotInfo> AppDatabase::ListSnapshots(int64_t profileId) try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement select = PrepareOrThrow(Connection(), kListSnapshotsSql);
    BindInt64(select, 1, profileId);
    std::vector<SnapshotInfo> snapshots;
    while (StepRow(select)) {
        SnapshotInfo info;
        info.id = ColumnInt64(select, 0);
        info.profile_id = ColumnInt64(select, 1);
        info.created_at = ColumnInt64(select, 2);
        info.label = ToWide(ColumnText(select, 3));
        info.bookmark_count = static_cast<int32_t>(ColumnInt64(select, 4));
        snapshots.push_back(std::move(info));
    }
    return snapshots;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

bool AppDatabase::DeleteSnapshot(int64_t snapshotId) try {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    Statement remove = PrepareOrThrow(conn, "DELETE FROM profile_backups WHERE id = ?");
    BindInt64(remove, 1, snapshotId);
    StepRow(remove);
    return sqlite3_changes(conn) > 0;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

bool AppDatabase::RestoreSnapshot(int64_t snapshotId, std::wstring* error) try {
    int64_t profileId = 0;
    int64_t storedCount = 0;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Statement select = PrepareOrThrow(
            Connection(), "SELECT profile_id, bookmark_count, snapshot_json FROM profile_backups WHERE id = ?");
        BindInt64(select, 1, snapshotId);
        if (!StepRow(select)) {
            if (error) *error = L"Snapshot not found.";
            return false;
        }
        profileId = ColumnInt64(select, 0);
        storedCount = ColumnInt64(select, 1);
        text = ColumnText(select, 2);
    }

    // Read and checked whole, without the lock, before anything changes: a damaged snapshot leaves
    // the profile and its snapshots as they are.
    std::vector<SnapshotRecord> records;
    std::wstring problem;
    if (!ReadSnapshotText(text, storedCount, records, problem)) {
        if (error) *error = problem;
        return false;
    }
    text = std::string();

    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = WritableConnection();
    // The automatic snapshot and the replace in one transaction: the profile's old bookmarks are
    // never gone without their snapshot, and a restore that fails changes nothing at all.
    ImmediateTransaction transaction(conn);
    // Its failures pass to the caller: nothing has changed at that point.
    // The snapshot being restored is kept even when it is the oldest: the oldest other one goes.
    WriteSnapshot(profileId, L"Auto-backup before restore", snapshotId);
    try {
        {
            Statement remove = PrepareOrThrow(conn, kDeleteProfileRowsSql);
            BindInt64(remove, 1, profileId);
            StepRow(remove);
        }
        Statement insert = PrepareOrThrow(conn, kInsertBookmarkSql);
        BindInt64(insert, 1, profileId);
        for (const SnapshotRecord& record : records) {
            // Stored as they are: no normalising, no duplicate test, a date of 0 stays 0.
            BindText(insert, 2, record.url);
            BindText(insert, 3, record.title);
            BindText(insert, 4, record.folderPath);
            BindInt64(insert, 5, record.dateAdded);
            StepRow(insert);
            ResetOrThrow(insert);
        }
        {
            Statement update = PrepareOrThrow(conn, "UPDATE profiles SET updated_at = ? WHERE id = ?");
            BindInt64(update, 1, UnixNow());
            BindInt64(update, 2, profileId);
            StepRow(update);
        }
        transaction.Commit();
    } catch (const SqlError& e) {
        // Rolled back when the transaction's scope ends below: everything as before the call.
        if (error) *error = ToWide(DatabaseFailureWords(e));
        return false;
    } catch (const std::exception& e) {
        if (error) *error = ToWide(e.what());
        return false;
    }
    return true;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

}  // namespace bm
