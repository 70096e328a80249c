#include "core/sql_statement.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "core/bookmark_record.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

class SqlStatementTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open_v2(ToUtf8(dir_ / L"statements.db").c_str(), &db_,
                                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db_, "CREATE TABLE t(a INTEGER UNIQUE, b TEXT);", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    void TearDown() override {
        EXPECT_EQ(sqlite3_next_stmt(db_, nullptr), nullptr) << "a statement was left unfinalized";
        sqlite3_close(db_);
    }

    bool HasOpenStatement() const { return sqlite3_next_stmt(db_, nullptr) != nullptr; }

    std::string ErrorOf(const std::string& sql) {
        try {
            Statement statement = PrepareOrThrow(db_, sql);
            while (StepRow(statement)) {
            }
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    }

    test::TempDir dir_;
    sqlite3* db_ = nullptr;
};

TEST_F(SqlStatementTest, StatementWithoutRowsStepsOnceToDone) {
    Statement select = PrepareOrThrow(db_, "SELECT a FROM t");
    EXPECT_FALSE(StepRow(select));
}

TEST_F(SqlStatementTest, ValuesRoundTripThroughBindAndColumn) {
    const std::string text = ToUtf8(L"Caf\u00e9 \u65e5\u672c \U0001F600");
    {
        Statement insert = PrepareOrThrow(db_, "INSERT INTO t(a, b) VALUES(?, ?)");
        BindInt64(insert, 1, INT64_MIN);
        BindText(insert, 2, text);
        EXPECT_FALSE(StepRow(insert));
    }
    Statement select = PrepareOrThrow(db_, "SELECT a, b FROM t");
    ASSERT_TRUE(StepRow(select));
    EXPECT_EQ(ColumnInt64(select, 0), INT64_MIN);
    EXPECT_EQ(ColumnText(select, 1), text);
    EXPECT_FALSE(StepRow(select));
}

TEST_F(SqlStatementTest, NullColumnsReadAsEmptyTextAndZero) {
    Statement select = PrepareOrThrow(db_, "SELECT NULL, NULL");
    ASSERT_TRUE(StepRow(select));
    EXPECT_EQ(ColumnText(select, 0), "");
    EXPECT_EQ(ColumnInt64(select, 1), 0);
}

TEST_F(SqlStatementTest, EmptyStringBindsEmptyTextNotNull) {
    Statement select = PrepareOrThrow(db_, "SELECT typeof(?1), ?1 IS NULL");
    BindText(select, 1, "");
    ASSERT_TRUE(StepRow(select));
    EXPECT_EQ(ColumnText(select, 0), "text");
    EXPECT_EQ(ColumnInt64(select, 1), 0);
}

TEST_F(SqlStatementTest, EmbeddedNulIsBoundAndReadWhole) {
    const std::string value("ab\0cd", 5);
    Statement select = PrepareOrThrow(db_, "SELECT hex(?1), ?1, ?1");
    BindText(select, 1, value);
    ASSERT_TRUE(StepRow(select));
    EXPECT_EQ(ColumnText(select, 0), "6162006364");
    EXPECT_EQ(ColumnText(select, 1), value);
    EXPECT_EQ(ColumnTextView(select, 2), value);
}

TEST_F(SqlStatementTest, BoundTextMayDieRightAfterTheCall) {
    Statement select = PrepareOrThrow(db_, "SELECT ?");
    {
        std::string temporary(100, 'x');
        BindText(select, 1, temporary);
        temporary.assign(100, 'y');
    }
    ASSERT_TRUE(StepRow(select));
    EXPECT_EQ(ColumnText(select, 0), std::string(100, 'x'));
}

TEST_F(SqlStatementTest, OnlyTheFirstStatementIsCompiled) {
    {
        Statement insert = PrepareOrThrow(db_, "INSERT INTO t(a) VALUES(1); INSERT INTO t(a) VALUES(2);");
        EXPECT_FALSE(StepRow(insert));
    }
    Statement count = PrepareOrThrow(db_, "SELECT count(*) FROM t");
    ASSERT_TRUE(StepRow(count));
    EXPECT_EQ(ColumnInt64(count, 0), 1);
}

TEST_F(SqlStatementTest, PrepareFailureCarriesEngineMessageAndSql) {
    const struct {
        std::string sql;
        std::string expected;
    } cases[] = {
        {"SELEC 1", "SQL prepare failed: near \"SELEC\": syntax error :: SELEC 1"},
        {"SELECT x FROM missing_table", "SQL prepare failed: no such table: missing_table :: SELECT x FROM missing_table"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.sql), c.expected);
        EXPECT_FALSE(HasOpenStatement()) << c.sql;
    }
}

TEST_F(SqlStatementTest, StepFailureCarriesEngineMessageWithoutSqlAndConnectionStaysUsable) {
    ASSERT_EQ(sqlite3_exec(db_, "INSERT INTO t(a) VALUES(7);", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(ErrorOf("INSERT INTO t(a) VALUES(7)"), "SQL step failed: UNIQUE constraint failed: t.a");
    EXPECT_FALSE(HasOpenStatement());

    Statement count = PrepareOrThrow(db_, "SELECT count(*) FROM t");
    ASSERT_TRUE(StepRow(count));
    EXPECT_EQ(ColumnInt64(count, 0), 1);
}

TEST_F(SqlStatementTest, ExceptionLeavingTheScopeFinalizesTheStatement) {
    try {
        Statement select = PrepareOrThrow(db_, "SELECT 1");
        ASSERT_TRUE(HasOpenStatement());
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(HasOpenStatement());
}

// Every call that can fail says so, with what failed: a bind the engine refuses, a reset after a
// failed step, and a text the engine cannot give for want of memory (never read as empty).
TEST_F(SqlStatementTest, RefusedBindFailedResetAndTextWithoutMemorySayWhatFailed) {
    Statement insert = PrepareOrThrow(db_, "INSERT INTO t(a, b) VALUES(?, ?)");
    auto errorOf = [](auto call) -> std::string {
        try {
            call();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    };
    EXPECT_EQ(errorOf([&] { BindInt64(insert, 3, 1); }), "SQL bind failed: column index out of range");
    EXPECT_EQ(errorOf([&] { BindText(insert, 0, "x"); }), "SQL bind failed: column index out of range");
    const int length = sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 100);
    EXPECT_EQ(errorOf([&] { BindText(insert, 2, std::string(200, 'x')); }), "SQL bind failed: string or blob too big");
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, length);

    BindInt64(insert, 1, 1);
    BindText(insert, 2, "first");
    EXPECT_FALSE(StepRow(insert));
    ResetOrThrow(insert);
    EXPECT_EQ(errorOf([&] { StepRow(insert); }), "SQL step failed: UNIQUE constraint failed: t.a");
    EXPECT_EQ(errorOf([&] { ResetOrThrow(insert); }), "SQL step failed: UNIQUE constraint failed: t.a");

}

// The engine's allocator, failing every request while `failing` is set.
sqlite3_mem_methods g_engineMemory;
bool g_failing = false;
void* FailingMalloc(int bytes) { return g_failing ? nullptr : g_engineMemory.xMalloc(bytes); }
void* FailingRealloc(void* p, int bytes) { return g_failing ? nullptr : g_engineMemory.xRealloc(p, bytes); }

// A text the engine cannot give for want of memory fails in words; it is never read as empty.
TEST(SqlStatementMemory, TextWithoutMemoryIsAFailureNotAnEmptyText) {
    ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
    ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_engineMemory), SQLITE_OK);
    sqlite3_mem_methods failing = g_engineMemory;
    failing.xMalloc = FailingMalloc;
    failing.xRealloc = FailingRealloc;
    ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_MALLOC, &failing), SQLITE_OK);
    ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);
    std::string failures[3];
    std::string_view nullText = "(unread)";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        {
            // A text held in UTF-16 needs memory of its own to be read as UTF-8, an empty one too
            // (no lookaside to take it from).
            sqlite3_db_config(db, SQLITE_DBCONFIG_LOOKASIDE, nullptr, 0, 0);
            ExecOrThrow(db, "PRAGMA encoding = 'UTF-16le';");
            Statement select = PrepareOrThrow(db, "SELECT 'a title held in UTF-16', NULL, ''");
            EXPECT_TRUE(StepRow(select));
            g_failing = true;
            for (int column = 0; column < 3; ++column) {
                try {
                    if (column == 1) nullText = ColumnTextView(select, column);
                    else ColumnTextView(select, column);
                } catch (const std::runtime_error& e) {
                    failures[column] = e.what();
                }
            }
            g_failing = false;
        }
        sqlite3_close(db);
    }
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_MALLOC, &g_engineMemory);
    sqlite3_initialize();
    EXPECT_EQ(nullText, "");  // SQL NULL reads as empty, with or without memory
    EXPECT_EQ(failures[1], "");
    EXPECT_EQ(failures[0], "SQL read failed: out of memory");
    EXPECT_EQ(failures[2], "SQL read failed: out of memory");
}

}  // namespace
}  // namespace bm
