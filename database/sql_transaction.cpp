#include "database/sql_transaction.h"

#include <sqlite3.h>

#include <ctime>
#include <stdexcept>
#include <string>

namespace bm {

int64_t UnixNow() { return static_cast<int64_t>(std::time(nullptr)); }

ImmediateTransaction::ImmediateTransaction(sqlite3* db) : db_(db) { ExecOrThrow(db_, "BEGIN IMMEDIATE;"); }

ImmediateTransaction::~ImmediateTransaction() {
    if (!done_) RollbackIfOpen();
}

void ImmediateTransaction::Commit() {
    done_ = true;
    try {
        ExecOrThrow(db_, "COMMIT;");
    } catch (...) {
        // A commit that fails (a reader holding its lock, a deferred constraint, a full disk) may
        // leave the transaction open; end it so that the next operation starts clean.
        RollbackIfOpen();
        throw;
    }
}

void ImmediateTransaction::RollbackIfOpen() noexcept {
    // Some failures (I/O, a full disk) make the engine roll back by itself.
    if (sqlite3_get_autocommit(db_)) return;
    sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
}

}  // namespace bm
