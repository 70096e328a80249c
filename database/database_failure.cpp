#include "database/database_failure.h"

#include <sqlite3.h>

#include <stdexcept>

#include "core/sql_statement.h"

namespace bm {

DatabaseTrouble TroubleOf(int sqliteCode) {
    switch (sqliteCode & 0xFF) {
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return DatabaseTrouble::Damaged;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return DatabaseTrouble::InUse;
        case SQLITE_IOERR:
            return DatabaseTrouble::DiskError;
        case SQLITE_NOMEM:
            return DatabaseTrouble::OutOfMemory;
        default:
            return DatabaseTrouble::None;
    }
}

std::string DatabaseFailureWords(const SqlError& failure) {
    const int code = failure.code();
    switch (code & 0xFF) {
        case SQLITE_FULL:
            return "app_data.db could not be saved: the disk is full. Nothing was changed; free some space and try "
                   "again.";
        case SQLITE_READONLY:
            return "app_data.db could not be saved: the file, or the disk it is on, is read-only. Nothing was changed.";
        case SQLITE_CANTOPEN:
            // The file is open; what cannot be opened is the journal SQLite writes beside it.
            return "app_data.db could not be saved: its folder does not let Orvellane create files in it. Nothing "
                   "was changed.";
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return "app_data.db could not be saved: Windows does not allow it. Nothing was changed.";
        default:
            break;
    }
    switch (TroubleOf(code)) {
        case DatabaseTrouble::Damaged:
            return "app_data.db is damaged, so nothing was changed. Orvellane goes on without it after a restart.";
        case DatabaseTrouble::InUse:
            return "app_data.db is in use by another program, so nothing was changed; try again once that program "
                   "has closed it.";
        case DatabaseTrouble::DiskError:
            return "app_data.db could not be read or written: the disk reported an error. Nothing was changed.";
        case DatabaseTrouble::OutOfMemory:
            return "There was not enough memory to use app_data.db, so nothing was changed.";
        case DatabaseTrouble::None:
            break;
    }
    return failure.what();
}

void ThrowInUsersWords(const SqlError& failure) {
    const std::string words = DatabaseFailureWords(failure);
    if (words == failure.what()) throw failure;
    throw SqlError(words, failure.code());
}

}  // namespace bm
