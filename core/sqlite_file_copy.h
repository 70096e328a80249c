#pragma once
// Whole-database copies of SQLite files that may be in WAL mode, where the newest changes can sit in
// "<file>-wal" beside the main file until a checkpoint.

#include <string>

namespace bm {

// True when "<path>-wal" exists beside the file.
bool HasWriteAheadLog(const std::wstring& path);

// Copies the database at `source`, what its -wal holds included, to a new file beside `target` through
// SQLite's backup interface and puts it in place of `target` in one step, its folder flushed. False
// with the reason when the source cannot be read as a database or the copy fails; `target` is then as
// it was. While it runs, the copy ("<target>.orvdbcopy-...") has an owner marker beside it held open.
bool CopySqliteDatabase(const std::wstring& source, const std::wstring& target, std::wstring* error);

// Removes the copies above (with their side files) that a process left beside targets in `folder`
// whose names begin with `targetPrefix` when it ended before putting them in place: they may hold a
// browser's history. A copy whose maker still runs is left alone. Returns how many were removed.
int RemoveLeftoverCopiesBeside(const std::wstring& folder, const std::wstring& targetPrefix);

// Moves what the -wal of the database holds into the main file and removes the -wal and -shm, so that
// the main file alone is the whole database. False with the reason when that cannot be done (the
// database is in use, a side file cannot be removed).
bool FoldWriteAheadLog(const std::wstring& path, std::wstring* error);

// A private copy of a database and its -wal in a new folder "orv-db-..." of the temporary folder,
// removed again with this object, on every way out of its scope. For reading a database whose own
// folder SQLite may not write (it needs to make the -shm there). While the object lives, its folder
// holds a marker file kept open, so that RemoveLeftoverDatabaseCopies leaves the copy alone.
class TemporaryDatabaseCopy {
public:
    explicit TemporaryDatabaseCopy(const std::wstring& source);
    ~TemporaryDatabaseCopy();
    TemporaryDatabaseCopy(const TemporaryDatabaseCopy&) = delete;
    TemporaryDatabaseCopy& operator=(const TemporaryDatabaseCopy&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::wstring& path() const { return path_; }  // empty when the copy failed
    const std::wstring& error() const { return error_; }

private:
    std::wstring folder_;
    std::wstring path_;
    std::wstring error_;
    void* marker_ = nullptr;  // the open marker file's handle
};

// Removes the copies above that processes of this program left when they ended before removing them
// (killed, or failed hard midway): a copy of someone's history must not stay on disk. Copies whose
// marker is still held open by a running process are left alone. Returns how many were removed.
// Called when the program starts and before each new copy is made.
int RemoveLeftoverDatabaseCopies();

}  // namespace bm
