#pragma once
// One connection to the line's PostgreSQL server (libpq), kept while it works. Every failure
// comes back as the problem the operator is shown: a setting to mend, a server out of reach,
// missing tables, or the server's refusal. No text that leaves here holds the password.
#include <optional>
#include <string>
#include <vector>

#include "app/line_services.h"

struct pg_conn;
struct pg_result;

namespace linedb {

// The schema this program reads and writes.
constexpr int kSchemaVersion = 1;

class PgResult {
  public:
    PgResult() = default;
    explicit PgResult(pg_result* result) : result_(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept;
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    int Rows() const;
    std::string Text(int row, int column) const;
    long long Number(int row, int column) const;
    bool Flag(int row, int column) const;

  private:
    pg_result* result_ = nullptr;
};

using PgParams = std::vector<std::optional<std::string>>;

class PgLink {
  public:
    PgLink() = default;
    ~PgLink();
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    // Connects to the line's server unless this link holds a connection to it already; fresh
    // tells whether it had to. With checkSchema, tables of another version are a problem.
    LineProblem Connect(const LineSettings& line, bool checkSchema, bool* fresh = nullptr);
    bool Connected() const { return conn_ != nullptr; }
    void Close();

    // One statement with text parameters (null: SQL NULL), or without them a text of several.
    // A lost connection closes the link.
    LineProblem Exec(const std::string& sql, const PgParams& params, PgResult* result = nullptr);
    LineProblem Exec(const std::string& sql) { return Exec(sql, {}); }
    // BEGIN on a connection that may have died since it was last used (a restarted server):
    // once more on a fresh one, which nothing was sent on yet.
    LineProblem Begin(const LineSettings& line, bool* fresh = nullptr);
    // ROLLBACK when the connection still stands, so that it can be used again.
    void Rollback();
    // The last failure was the server refusing the data it was given (a value it does not take,
    // a constraint): sending it again would fail again.
    bool DataRefused() const;

    // The schema version found at the last connect with checkSchema (0: none).
    int SchemaVersion() const { return schemaVersion_; }
    // Where the link is connected, without secrets: "host=... port=... dbname=... user=...".
    std::string Describe() const;
    // text with every occurrence of the connection's password blotted out.
    std::string Scrub(std::string text) const;

  private:
    LineProblem Failure(pg_result* result);
    LineProblem CheckSchema();

    pg_conn* conn_ = nullptr;
    std::string connection_;  // the LINEDB this link is connected by
    std::string lastState_;   // SQLSTATE of the last failure
    std::vector<std::string> secrets_;
    int schemaVersion_ = 0;
    bool schemaChecked_ = false;
};

}  // namespace linedb
