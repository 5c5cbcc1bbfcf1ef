#pragma once
// A PostgreSQL server of this test program's own (pg_scratch.sh: initdb in a scratch
// directory, a Unix socket there, an unprivileged user), started at the first use and removed
// when the program ends. Each test works in a database of its own.
#include <string>
#include <vector>

#include "app/line_services.h"

class PgServer {
  public:
    static PgServer& Get();
    ~PgServer();

    // Empty when the server runs; otherwise why not. Missing server binaries are a skip, any
    // other reason a failure.
    const std::string& Missing() const { return missing_; }
    const std::string& Failed() const { return failed_; }

    // A new, empty database; its connection string.
    std::string NewDatabase();
    bool Stop();
    bool Restart();

  private:
    PgServer();
    bool Script(const std::string& command, std::string* out = nullptr);

    std::string state_;
    std::string base_;  // the server's connection string
    std::string missing_, failed_;
    int databases_ = 0;
};

// Rows of a query as text (NULL as "<null>"); one row with the error text when it failed.
using SqlRows = std::vector<std::vector<std::string>>;
SqlRows Sql(const std::string& connection, const std::string& query);
// The first column of the first row, or "<none>".
std::string SqlValue(const std::string& connection, const std::string& query);

// A line of the server's database, named as a station would name it.
LineSettings Line(const std::string& connection, const std::string& station = "st1",
                  const std::string& pool = "QX16A064");

// Every test of this program starts with it: skips when the server binaries are missing.
#define REQUIRE_PG_SERVER()                                 \
    do {                                                    \
        if (!PgServer::Get().Missing().empty())             \
            GTEST_SKIP() << PgServer::Get().Missing();      \
        ASSERT_EQ(PgServer::Get().Failed(), std::string()); \
    } while (0)
