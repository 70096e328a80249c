#pragma once
// What the places.sqlite reader and writer share and nothing else includes: the checks that a file's
// pages hold together before anything is read from it or written into it.

#include <stdexcept>
#include <string>

struct sqlite3;

namespace bm {

// Raised for a file whose pages do not hold together: reading it would give a part as the whole.
struct DamagedDatabase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The last failure on the connection was SQLite finding damage / being unable to open a file.
bool IsCorruption(sqlite3* db);
bool CannotOpen(sqlite3* db);

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
