#pragma once
// Helpers the AppDatabase operations share: the clock, and an immediate transaction that is rolled
// back on every path that does not commit it.

#include <cstdint>

#include "core/sql_statement.h"  // ExecOrThrow, which the operations use beside the transaction

struct sqlite3;

namespace bm {

// Whole seconds since the Unix epoch.
int64_t UnixNow();

// "BEGIN IMMEDIATE;" on construction (throws when it fails); "COMMIT;" by Commit(). Whatever leaves
// the scope without a successful Commit() rolls back, so the connection is never left inside an open
// transaction. Statements used inside must be finalized before the transaction goes out of scope.
class ImmediateTransaction {
public:
    explicit ImmediateTransaction(sqlite3* db);
    ~ImmediateTransaction();
    ImmediateTransaction(const ImmediateTransaction&) = delete;
    ImmediateTransaction& operator=(const ImmediateTransaction&) = delete;

    // Throws "SQL step failed: <message>" when the commit fails; the transaction is then rolled back.
    void Commit();

private:
    void RollbackIfOpen() noexcept;

    sqlite3* db_;
    bool done_ = false;
};

}  // namespace bm
