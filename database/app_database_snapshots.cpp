// Snapshots of saved profiles: JSON copies of all their bookmarks, the newest 20 kept per profile.
#include "database/app_database.h"

#include <sqlite3.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "core/sql_statement.h"
#include "database/bookmark_queries.h"
#include "database/snapshot_text.h"
#include "database/sql_transaction.h"

namespace bm {
namespace {

using nlohmann::json;

constexpr int64_t kSnapshotsKept = 20;

std::string TextMember(const json& element, const char* key) { return element.value(key, std::string()); }

// Any JSON number; fractions are cut toward zero, values beyond 64 bits held at the nearest limit.
int64_t DateAddedMember(const json& element) {
    if (!element.is_object()) return element.value("date_added", int64_t{0});  // throws the library's error
    const auto it = element.find("date_added");
    if (it == element.end()) return 0;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    if (it->is_number_unsigned()) {
        const uint64_t value = it->get<uint64_t>();
        return value > static_cast<uint64_t>(kMax) ? kMax : static_cast<int64_t>(value);
    }
    if (it->is_number_float()) {
        const double value = it->get<double>();
        if (value >= 9223372036854775807.0) return kMax;
        if (value <= -9223372036854775808.0) return kMin;
        return static_cast<int64_t>(value);
    }
    return it->get<int64_t>();  // the library's type error for anything that is no number
}

}  // namespace

int64_t AppDatabase::CreateSnapshot(int64_t profileId, const std::wstring& label) {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = Connection();
    // Read, insert and prune together: the snapshot holds exactly the rows of one moment, and a kill
    // between the insert and the prune cannot leave more than the bound.
    ImmediateTransaction transaction(conn);

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
        BindInt64(prune, 2, profileId);
        BindInt64(prune, 3, kSnapshotsKept);
        StepRow(prune);
    }
    transaction.Commit();
    return snapshotId;
}

std::vector<SnapshotInfo> AppDatabase::ListSnapshots(int64_t profileId) {
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
}

bool AppDatabase::DeleteSnapshot(int64_t snapshotId) {
    std::lock_guard<std::mutex> lock(mutex);
    sqlite3* conn = Connection();
    Statement remove = PrepareOrThrow(conn, "DELETE FROM profile_backups WHERE id = ?");
    BindInt64(remove, 1, snapshotId);
    StepRow(remove);
    return sqlite3_changes(conn) > 0;
}

bool AppDatabase::RestoreSnapshot(int64_t snapshotId, std::wstring* error) {
    int64_t profileId = 0;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Statement select = PrepareOrThrow(Connection(), "SELECT profile_id, snapshot_json FROM profile_backups WHERE id = ?");
        BindInt64(select, 1, snapshotId);
        if (!StepRow(select)) {
            if (error) *error = L"Snapshot not found.";
            return false;
        }
        profileId = ColumnInt64(select, 0);
        text = ColumnText(select, 1);
    }

    // Without the lock: CreateSnapshot takes it itself. If it throws, nothing has changed yet.
    CreateSnapshot(profileId, L"Auto-backup before restore");

    json parsed;
    try {
        parsed = json::parse(text, nullptr, true, false);
    } catch (const std::exception& e) {
        if (error) *error = ToWide(e.what());
        return false;
    }

    std::lock_guard<std::mutex> lock(mutex);
    try {
        sqlite3* conn = Connection();
        ImmediateTransaction transaction(conn);
        {
            Statement remove = PrepareOrThrow(conn, kDeleteProfileRowsSql);
            BindInt64(remove, 1, profileId);
            StepRow(remove);
        }
        // An array gives its elements, an object its member values, null nothing, anything else itself.
        Statement insert = PrepareOrThrow(conn, kInsertBookmarkSql);
        for (const json& element : parsed) {
            sqlite3_reset(insert.get());
            BindInt64(insert, 1, profileId);
            BindText(insert, 2, TextMember(element, "url"));
            BindText(insert, 3, TextMember(element, "title"));
            BindText(insert, 4, TextMember(element, "folder_path"));
            BindInt64(insert, 5, DateAddedMember(element));
            StepRow(insert);
        }
        {
            Statement update = PrepareOrThrow(conn, "UPDATE profiles SET updated_at = ? WHERE id = ?");
            BindInt64(update, 1, UnixNow());
            BindInt64(update, 2, profileId);
            StepRow(update);
        }
        transaction.Commit();
    } catch (const std::exception& e) {
        // The transaction has been rolled back by now: the profile holds what it held before.
        if (error) *error = ToWide(e.what());
        return false;
    }
    return true;
}

}  // namespace bm
