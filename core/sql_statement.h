#pragma once
// A thin owner over SQLite prepared statements: finalized on every path, failures as exceptions.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace bm {

// What every helper below throws: the engine's text, and its result code for callers that put the
// failure in their own words (a full disk, a read-only file, a lock).
class SqlError : public std::runtime_error {
public:
    SqlError(const std::string& text, int code) : std::runtime_error(text), code_(code) {}
    // The extended result code (SQLITE_FULL, SQLITE_IOERR_WRITE, ...).
    int code() const { return code_; }

private:
    int code_;
};

class Statement {
public:
    explicit Statement(sqlite3_stmt* handle) : handle_(handle) {}
    ~Statement();
    Statement(Statement&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return handle_; }

private:
    sqlite3_stmt* handle_ = nullptr;
};

// Throws std::runtime_error "SQL prepare failed: <message> :: <sql>".
Statement PrepareOrThrow(sqlite3* db, const std::string& sql);

// The page cache our connections ask for (up to 64 MiB, taken only as pages are used). Big writes touch
// every index of a table; with SQLite's default 2 MiB the same index pages are read again and again and
// a write of 100k rows grows far worse than linearly. Only the connection sees the setting.
inline constexpr const char kWriteCacheSizePragma[] = "PRAGMA cache_size = -65536;";

// SQLite's Windows file layer for paths of any length (the default one stops at 260 characters).
inline constexpr const char kLongPathVfs[] = "win32-longpath";

// Throw std::runtime_error "SQL bind failed: <message>" when the engine refuses the value (no such
// parameter, too big, out of memory).
void BindInt64(Statement& statement, int index, int64_t value);
void BindText(Statement& statement, int index, const std::string& utf8);
// Makes the statement ready to run again; throws "SQL step failed: <message>" when its last run failed.
void ResetOrThrow(Statement& statement);
int64_t ColumnInt64(Statement& statement, int column);
// A text column's bytes by its length, NUL bytes inside included; SQL NULL reads as empty. Throws
// "SQL read failed: out of memory" when the engine cannot give the text. The view lives until the
// next step, reset or finalize of the statement.
std::string_view ColumnTextView(Statement& statement, int column);
std::string ColumnText(Statement& statement, int column);

// True for a row, false when done; throws std::runtime_error "SQL step failed: <message>" otherwise.
bool StepRow(Statement& statement);

// Runs sql with sqlite3_exec; throws std::runtime_error "SQL step failed: <message>" on failure.
void ExecOrThrow(sqlite3* db, const char* sql);

}  // namespace bm
