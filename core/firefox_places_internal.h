#pragma once
// What the places.sqlite reader and writer share and nothing else includes: the checks that a file's
// pages hold together before anything is read from it or written into it.

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

struct sqlite3;

namespace bm {

// Raised for a file whose pages do not hold together: reading it would give a part as the whole.
struct DamagedDatabase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raised for folders nested deeper than any browser writes (kDeepestFolderNesting below a root).
struct TooDeepPlaces : std::runtime_error {
    TooDeepPlaces() : std::runtime_error("folders nested too deep") {}
};

// Raised for folder paths longer than any browser keeps (kMaxFolderPathLength), or for paths whose
// copies, one per bookmark, would pass the bound every reader keeps (FolderPathBudget).
struct OverlongPlacesPaths : std::runtime_error {
    OverlongPlacesPaths() : std::runtime_error("folder paths too long") {}
};

// The bookmarks of an open places.sqlite, after every check that the file holds together (its
// length, SQLite's page checks, every item in the tree below the top root, every bookmark with its
// page and the page with its address). Throws DamagedDatabase, TooDeepPlaces or the statement
// wrappers' exceptions.
std::vector<BookmarkRecord> ReadOpenPlaces(sqlite3* db, const std::wstring& path);

// What went wrong with places.sqlite, in words, for the exception a read or write of it threw on
// `db`; `outcome` ends the text (for example "nothing was read from it.").
// No SQL text and no library internals: in use by another program, read-only, damaged, not found.
// A file that holds nothing (no bytes, only zero bytes) is told as such, in the words of the other
// stores' files.
std::wstring PlacesFailureText(const std::wstring& path, sqlite3* db, const std::exception& failure,
                               const std::wstring& outcome);

// Why places.sqlite at `path` could not be opened: it or its folder is not there, or no access.
std::wstring PlacesOpenFailureText(const std::wstring& path, const std::wstring& outcome);

// The last failure on the connection was SQLite being unable to open a file.
bool CannotOpen(sqlite3* db);

// Has the connection keep the index of the file's -wal in its own memory, not in a "-shm" mapped
// beside the file, and hold the file to itself while it is open. Run before its first statement.
// A -shm is a sparse file: on a full disk, a page of it the disk cannot back ends the process at the
// first write into it. And a -shm made for one read would stay beside the file.
void KeepWalIndexPrivate(sqlite3* db);

// Opens the file to be read that way (SQLite holds a file to itself only when it may write it; nothing
// is written). A -wal that was there stays as it is, not folded into the file at the close; one
// SQLite makes for the read goes again at the close. Null when the file may not be written: it is
// then read the shared way.
sqlite3* OpenPlacesWithOwnIndex(const std::wstring& path);

// The failure on `db` was that it could not have the file to itself: another program has it open.
bool HeldByAnotherProgram(sqlite3* db, const std::exception& failure);

// SQLite's own page checks (quick_check) of the two tables the bookmarks are read from, moz_bookmarks
// and moz_places, and of their indexes: damage there would read as fewer bookmarks, or as other text.
// The rest of the file (history visits, icons, annotations) is not read and not checked, so the cost
// stays that of reading those two tables once. Throws DamagedDatabase.
void CheckPlacesTables(sqlite3* db);

// A file cut short (its last pages lost) reads without an error from SQLite: the pages that are
// gone read as empty. Its header still tells how long it was. With a -wal beside it the main file may
// be behind its header until the log is replayed, so only a file without one is measured.
// Throws DamagedDatabase.
void CheckFileLength(const std::wstring& path);

}  // namespace bm
