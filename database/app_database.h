#pragma once
// The program's own store over app_data.db: saved profiles with their bookmarks, profile snapshots,
// per-browser configuration and key/value settings. One connection, serialised by one mutex, so the
// interface thread and the sync worker may call at the same time.
//
// Failures are thrown as std::runtime_error ("SQL prepare failed: ...", "SQL step failed: ..."); after a throw the lock is free, no statement is left open and
// the connection is not inside a transaction. RestoreSnapshot reports most of its failures through
// its error text instead.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

#include "core/bookmark_record.h"
#include "database/database_failure.h"

struct sqlite3;

namespace bm {

// One row of `profiles`.
struct ProfileRecord {
    int64_t id = 0;
    std::wstring name;
    int64_t created_at = 0;  // Unix seconds
    int64_t updated_at = 0;  // Unix seconds of the last rename, sync, import or restore
};

// One row of `profile_backups` without its JSON text.
struct SnapshotInfo {
    int64_t id = 0;
    int64_t profile_id = 0;
    int64_t created_at = 0;  // Unix seconds
    std::wstring label;
    int32_t bookmark_count = 0;
};

// One row of `browser_configs`; id 0 when the browser has no row.
struct BrowserConfig {
    int64_t id = 0;
    std::wstring browser_key;
    std::wstring custom_path;       // empty for none
    int64_t bound_profile_id = 0;   // 0 for none
};

class AppDatabase {
public:
    AppDatabase() = default;
    ~AppDatabase();
    AppDatabase(const AppDatabase&) = delete;
    AppDatabase& operator=(const AppDatabase&) = delete;
    AppDatabase(AppDatabase&&) = delete;
    AppDatabase& operator=(AppDatabase&&) = delete;

    // Opens or creates the file, ensures the schema and marks the file as this program's. False, with
    // a sentence saying why in *error (when not null), when the file cannot be opened or created, is
    // damaged, belongs to another program or comes from a newer schema; such a file is left unchanged
    // and the database stays closed.
    //
    // SQLite's check of every page of an existing file (seconds for a large one) runs on a thread of
    // its own after Open has returned; reads go on meanwhile, and nothing is written into the file
    // before it has passed: a write waits for it (settings are kept in memory until then and written
    // after it) and fails in words when it finds the file damaged; reads go on until Close.
    bool Open(const std::wstring& path, std::wstring* error = nullptr);
    // Waits for the check of the file (and the settings kept meanwhile to be written); safe when
    // closed and more than once.
    void Close();
    // Why the file cannot be used: found damaged (by Open, or by the check after it), locked by another
    // program, a disk error or too little memory while reading it. The program may go on without it,
    // writing nothing into it. None while it can be used, and for the other refusals of Open.
    DatabaseTrouble Trouble();
    bool FoundDamaged() { return Trouble() == DatabaseTrouble::Damaged; }
    // A sentence on what the check found, once Trouble() is not None.
    std::wstring TroubleReason();
    // Whether the check of the file has ended (passed or not); WaitForFileCheck blocks until it has.
    bool FileCheckDone();
    void WaitForFileCheck();
    // Called once, on the checking thread, when the check has ended; set before Open.
    void SetFileCheckedCallback(std::function<void()> callback);
    // The file was opened read-only (a read-only file or medium): everything reads, nothing saves.
    bool ReadOnly();

    // Profiles and their bookmarks.
    std::vector<ProfileRecord> ListProfiles();
    int64_t CreateProfile(const std::wstring& name);
    bool RenameProfile(int64_t profileId, const std::wstring& name);
    bool DeleteProfile(int64_t profileId);
    void TouchProfile(int64_t profileId);
    // The profile's bookmarks in the order they were added.
    std::vector<BookmarkRecord> GetBookmarks(int64_t profileId);
    // The UTF-8 title, url and folder_path of the rows GetBookmarks gives, in the same order and whole
    // (a stored NUL included), without making records. The texts live only for the
    // call; `visit` runs under the lock and must not call back into this object.
    using BookmarkTextVisitor = std::function<void(std::string_view title, std::string_view url, std::string_view folder)>;
    void VisitBookmarkTexts(int64_t profileId, const BookmarkTextVisitor& visit);
    // How many bookmarks the profile holds, counted by the database without loading them.
    int64_t CountBookmarks(int64_t profileId);
    void DeleteBookmarksForProfile(int64_t profileId);
    // Stores the records with their URLs as given in one transaction, skipping a record whose
    // NormalizeUrl key the profile already holds (also from earlier in the list). Returns the number
    // inserted; on failure nothing is stored.
    int AddBookmarks(int64_t profileId, const std::vector<BookmarkRecord>& records, int* skipped = nullptr);
    // Deletes the profile's bookmarks and stores the records as AddBookmarks does, in one transaction:
    // afterwards the profile holds either its old set or the new one, never neither.
    int ReplaceBookmarks(int64_t profileId, const std::vector<BookmarkRecord>& records, int* skipped = nullptr);

    // Snapshots: at most the newest 20 are kept per profile.
    int64_t CreateSnapshot(int64_t profileId, const std::wstring& label);
    std::vector<SnapshotInfo> ListSnapshots(int64_t profileId);  // newest first
    bool DeleteSnapshot(int64_t snapshotId);
    // Reads and checks the snapshot, then in one transaction takes an automatic snapshot and replaces
    // the profile's bookmarks with the snapshot's. False with a sentence in *error (when not null), and
    // nothing changed, if the snapshot is missing or damaged or cannot be restored; throws when the
    // look-up or the automatic snapshot fails.
    bool RestoreSnapshot(int64_t snapshotId, std::wstring* error = nullptr);

    // Browser configurations and settings.
    BrowserConfig GetBrowserConfig(const std::wstring& browserKey);
    void SetBrowserConfig(const std::wstring& browserKey, int64_t boundProfileId, const std::wstring& customPath);
    int64_t GetDefaultProfileId();
    void SetDefaultProfileId(int64_t id);
    std::wstring GetSetting(const std::wstring& key, const std::wstring& defaultValue);
    void SetSetting(const std::wstring& key, const std::wstring& value);

    // Rows changed through this connection since it was opened, by any thread (0 when closed). A
    // copy of something read earlier is still current while this number has not moved.
    int64_t ChangeCount();

private:
    // The insert loop of AddBookmarks and ReplaceBookmarks; the caller holds `mutex` and a transaction.
    // `profileEmpty`: the profile holds no rows (emptied inside this transaction).
    int InsertBookmarks(int64_t profileId, const std::vector<BookmarkRecord>& records, bool profileEmpty,
                        int& skippedCount);
    // Takes a snapshot of the profile and prunes its list to the newest 20, `keepId` (when not 0)
    // among them whatever its age; the caller holds `mutex` and a transaction.
    int64_t WriteSnapshot(int64_t profileId, const std::wstring& label, int64_t keepId = 0);
    // The open connection; throws when the database is closed. The caller must hold `mutex`.
    sqlite3* Connection() const;
    // The open connection once the file's check has passed (waiting for it); throws in words when
    // it did not. The caller must hold `mutex`.
    sqlite3* WritableConnection();
    // True when the setting was kept in memory because the check has not ended yet. Caller holds `mutex`.
    bool KeepWhileChecking(const std::wstring& key, const std::wstring& value);
    // Runs the check of the file at `path` and then finishes what waited for it.
    void CheckFile(std::string path);
    // After the check: the kept settings written (file sound) or the connection closed (not).
    // Caller holds `mutex`.
    void FinishAfterCheck();
    void JoinChecker();

    sqlite3* db = nullptr;
    std::mutex mutex;
    bool readOnly = false;
    // Settings written while the check runs, written into the file once it has passed.
    std::map<std::wstring, std::wstring> keptSettings;
    bool checkFinished = false;  // under `mutex`: FinishAfterCheck has run

    // The check's state, under its own lock: a write waits on it while holding `mutex`.
    std::mutex checkMutex;
    std::condition_variable checkEnded;
    bool checking = false;
    DatabaseTrouble trouble = DatabaseTrouble::None;
    std::wstring troubleReason;
    std::function<void()> onFileChecked;
    std::thread checker;
};

}  // namespace bm
