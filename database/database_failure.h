#pragma once
// A failure of app_data.db in the user's words: what happened to the file, and that nothing was
// changed (every write of the database is one transaction, rolled back when it fails).

#include <string>

namespace bm {

class SqlError;

// Why app_data.db cannot be used at all, when it cannot.
enum class DatabaseTrouble {
    None,
    Damaged,      // SQLite finds a damaged page, or cannot read its header or schema
    InUse,        // another program holds a lock on it
    DiskError,    // the disk reported an error reading it
    OutOfMemory,  // too little memory to read it
};

// The kind of trouble an SQLite result code stands for (None for a code that says nothing of the file).
DatabaseTrouble TroubleOf(int sqliteCode);

// One or two sentences for a failed operation on app_data.db, for a result code about the file or
// the medium (full, read-only, locked, damaged, a disk error, memory); the engine's own text for any
// other (a name already in use, for one, which the callers word themselves).
std::string DatabaseFailureWords(const SqlError& failure);

// The function-try-block handler of every AppDatabase operation: the same failure in those words.
[[noreturn]] void ThrowInUsersWords(const SqlError& failure);

}  // namespace bm
