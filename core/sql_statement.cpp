#include "core/sql_statement.h"

#include <sqlite3.h>

#include <stdexcept>

namespace bm {

Statement::~Statement() {
    if (handle_) sqlite3_finalize(handle_);
}

Statement PrepareOrThrow(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* handle = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &handle, nullptr);
    if (rc != SQLITE_OK) {
        if (handle) sqlite3_finalize(handle);
        throw SqlError(std::string("SQL prepare failed: ") + sqlite3_errmsg(db) + " :: " + sql, sqlite3_extended_errcode(db));
    }
    return Statement(handle);
}

namespace {

// The statement's connection's own words for what just failed, prefixed with what was being done.
[[noreturn]] void ThrowFor(const Statement& statement, const char* what, int rc) {
    sqlite3* db = sqlite3_db_handle(statement.get());
    // After a failed call the connection's message names that failure; the code's own text is the
    // fallback where the call left none (a misuse of the interface, for one).
    const char* message = db && sqlite3_errcode(db) == (rc & 0xFF) ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqlError(std::string(what) + message, db && sqlite3_errcode(db) == (rc & 0xFF) ? sqlite3_extended_errcode(db) : rc);
}

}  // namespace

void BindInt64(Statement& statement, int index, int64_t value) {
    const int rc = sqlite3_bind_int64(statement.get(), index, value);
    if (rc != SQLITE_OK) ThrowFor(statement, "SQL bind failed: ", rc);
}

void BindText(Statement& statement, int index, const std::string& utf8) {
    // By its 64-bit length: a text beyond 2 GiB is refused by the engine instead of being cut.
    const int rc = sqlite3_bind_text64(statement.get(), index, utf8.data(), static_cast<sqlite3_uint64>(utf8.size()),
                                       SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) ThrowFor(statement, "SQL bind failed: ", rc);
}

void ResetOrThrow(Statement& statement) {
    const int rc = sqlite3_reset(statement.get());
    if (rc != SQLITE_OK) ThrowFor(statement, "SQL step failed: ", rc);
}

int64_t ColumnInt64(Statement& statement, int column) {
    return sqlite3_column_int64(statement.get(), column);
}

std::string_view ColumnTextView(Statement& statement, int column) {
    // The text first, then its length: asking for the bytes first could measure another encoding.
    const unsigned char* text = sqlite3_column_text(statement.get(), column);
    if (!text) {
        // No pointer for a value that is there means the engine ran out of memory converting it:
        // reading it as empty would pass an empty title or address off as the stored one.
        if (sqlite3_column_type(statement.get(), column) == SQLITE_NULL) return {};
        throw SqlError("SQL read failed: out of memory", SQLITE_NOMEM);
    }
    const int bytes = sqlite3_column_bytes(statement.get(), column);
    return {reinterpret_cast<const char*>(text), static_cast<size_t>(bytes)};
}

std::string ColumnText(Statement& statement, int column) { return std::string(ColumnTextView(statement, column)); }

bool StepRow(Statement& statement) {
    const int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3* db = sqlite3_db_handle(statement.get());
    throw SqlError(std::string("SQL step failed: ") + sqlite3_errmsg(db), sqlite3_extended_errcode(db));
}

void ExecOrThrow(sqlite3* db, const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return;
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    const int code = sqlite3_extended_errcode(db);
    throw SqlError("SQL step failed: " + text, (code & 0xFF) == (rc & 0xFF) ? code : rc);
}

}  // namespace bm
