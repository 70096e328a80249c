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

}  // namespace
}  // namespace bm
