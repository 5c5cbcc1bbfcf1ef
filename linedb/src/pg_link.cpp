#include "pg_link.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

#include "programdata/string_table.h"
#include "text_utf8.h"

namespace linedb {

namespace {

constexpr const char* kBadConnection =
    "LINEDB is no PostgreSQL connection string: it takes key=value pairs such as "
    "\"host=line-db dbname=quorvel user=station\", or a postgresql:// URI";

// A message of several lines (libpq ends each in a line break) on one line.
std::string OneLine(const char* text) {
    std::string out;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        if (*c == '\r')
            continue;
        if (*c == '\n') {
            if (!out.empty() && c[1] != '\0')
                out += "; ";
            continue;
        }
        // libpq indents its hints with a tab.
        if (*c == '\t' && (out.empty() || out.back() == ' '))
            continue;
        out += *c == '\t' ? ' ' : *c;
    }
    return out;
}

bool StartsWith(const char* text, const char* prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

PgResult::~PgResult() {
    PQclear(result_);
}

PgResult::PgResult(PgResult&& other) noexcept : result_(other.result_) {
    other.result_ = nullptr;
}

PgResult& PgResult::operator=(PgResult&& other) noexcept {
    if (this != &other) {
        PQclear(result_);
        result_ = other.result_;
        other.result_ = nullptr;
    }
    return *this;
}

int PgResult::Rows() const {
    return result_ != nullptr ? PQntuples(result_) : 0;
}

std::string PgResult::Text(int row, int column) const {
    if (row >= Rows() || column >= PQnfields(result_) || PQgetisnull(result_, row, column))
        return {};
    return std::string(PQgetvalue(result_, row, column), size_t(PQgetlength(result_, row, column)));
}

long long PgResult::Number(int row, int column) const {
    return std::strtoll(Text(row, column).c_str(), nullptr, 10);
}

bool PgResult::Flag(int row, int column) const {
    return Text(row, column) == "t";
}

PgLink::~PgLink() {
    Close();
}

void PgLink::Close() {
    if (conn_ != nullptr)
        PQfinish(conn_);
    conn_ = nullptr;
    connection_.clear();
    schemaChecked_ = false;
}

LineProblem PgLink::Connect(const LineSettings& line, bool checkSchema, bool* fresh) {
    if (fresh != nullptr)
        *fresh = false;
    // The names go into every row: one the server cannot take would hold back all the rest.
    for (const auto& [key, value] :
         {std::pair{"STATION", &line.station}, std::pair{"SERIALPOOL", &line.pool}})
        if (!PlainUtf8(*value))
            return {IDS_LINE_BAD_SETTING,
                    std::string(key) + " is not UTF-8 text without control characters"};
    if (conn_ != nullptr && connection_ == line.connection && PQstatus(conn_) == CONNECTION_OK)
        return checkSchema && !schemaChecked_ ? CheckSchema() : LineProblem{};
    Close();
    // libpq's own words on a string it cannot parse may quote the string, password and all.
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(line.connection.c_str(), &error);
    PQfreemem(error);
    if (options == nullptr)
        return {IDS_LINE_BAD_SETTING, kBadConnection};
    secrets_.clear();
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o)
        if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr && *o->val != '\0')
            secrets_.push_back(o->val);
    PQconninfoFree(options);

    // Bounds a plant's network needs: a Write must not wait for ever. The connection string
    // comes last and may set any of them otherwise.
    const std::string application = "quorvel " + line.station;
    const char* keywords[] = {"connect_timeout",  "keepalives",
                              "keepalives_idle",  "keepalives_interval",
                              "keepalives_count", "application_name",
                              "client_encoding",  "options",
                              "dbname",           nullptr};
    const char* values[] = {"5",
                            "1",
                            "10",
                            "3",
                            "3",
                            application.c_str(),
                            "UTF8",
                            "-c statement_timeout=15000 -c lock_timeout=10000 "
                            "-c idle_in_transaction_session_timeout=60000",
                            line.connection.c_str(),
                            nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (conn_ == nullptr)
        return {IDS_LINE_UNREACHABLE, "no memory for a connection"};
    if (PQstatus(conn_) != CONNECTION_OK) {
        const bool needsPassword = PQconnectionNeedsPassword(conn_) != 0;
        LineProblem problem{
            needsPassword ? uint32_t(IDS_LINE_BAD_SETTING) : uint32_t(IDS_LINE_UNREACHABLE),
            Scrub(OneLine(PQerrorMessage(conn_)))};
        if (needsPassword)
            problem.detail += " (give it in ~/.pgpass, PGPASSWORD or the connection string)";
        Close();
        return problem;
    }
    // The server's notices ("already exists, skipping") are for people at a psql prompt.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    if (const char* password = PQpass(conn_); password != nullptr && *password != '\0')
        secrets_.push_back(password);
    connection_ = line.connection;
    if (fresh != nullptr)
        *fresh = true;
    return checkSchema ? CheckSchema() : LineProblem{};
}

LineProblem PgLink::CheckSchema() {
    PgResult result;
    if (LineProblem problem = Exec("SELECT version FROM quorvel_schema", {}, &result))
        return problem;
    schemaVersion_ = result.Rows() > 0 ? int(result.Number(0, 0)) : 0;
    if (schemaVersion_ > kSchemaVersion)
        return {IDS_LINE_REFUSED, "its tables are of version " + std::to_string(schemaVersion_) +
                                      ", newer than this program's " +
                                      std::to_string(kSchemaVersion) + ": update Quorvel"};
    if (schemaVersion_ < kSchemaVersion)
        return {IDS_LINE_NO_SCHEMA, "version " + std::to_string(schemaVersion_) +
                                        ", this program needs " + std::to_string(kSchemaVersion)};
    schemaChecked_ = true;
    return {};
}

LineProblem PgLink::Exec(const std::string& sql, const PgParams& params, PgResult* result) {
    if (conn_ == nullptr)
        return {IDS_LINE_UNREACHABLE, "not connected"};
    std::vector<const char*> values;
    for (const auto& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    // Without parameters a text may hold several statements (the schema's steps).
    PGresult* res = values.empty() ? PQexec(conn_, sql.c_str())
                                   : PQexecParams(conn_, sql.c_str(), int(values.size()), nullptr,
                                                  values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(res);
    if (res != nullptr && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)) {
        if (result != nullptr)
            *result = PgResult(res);
        else
            PQclear(res);
        return {};
    }
    return Failure(res);
}

LineProblem PgLink::Failure(pg_result* res) {
    PgResult owned(res);
    const char* state = res != nullptr ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary =
        res != nullptr ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string detail = Scrub(OneLine(primary != nullptr ? primary : PQerrorMessage(conn_)));
    lastState_ = state != nullptr ? state : "";
    // The connection is gone (the server stopped or restarts): the next use connects anew.
    if (PQstatus(conn_) != CONNECTION_OK || state == nullptr || StartsWith(state, "08") ||
        StartsWith(state, "57P")) {
        Close();
        return {IDS_LINE_UNREACHABLE, detail};
    }
    if (std::strcmp(state, "42P01") == 0 || std::strcmp(state, "42703") == 0)
        return {IDS_LINE_NO_SCHEMA, detail};
    return {IDS_LINE_REFUSED, detail};
}

LineProblem PgLink::Begin(const LineSettings& line, bool* fresh) {
    LineProblem problem;
    if (fresh != nullptr)
        *fresh = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool connected = false;
        if ((problem = Connect(line, true, &connected)))
            return problem;
        if (fresh != nullptr && connected)
            *fresh = true;
        if (!(problem = Exec("BEGIN")) || Connected())
            return problem;
    }
    return problem;
}

void PgLink::Rollback() {
    if (conn_ != nullptr && PQtransactionStatus(conn_) != PQTRANS_IDLE)
        Exec("ROLLBACK");
}

bool PgLink::DataRefused() const {
    // Class 22: data exception; 23: integrity constraint violation.
    return StartsWith(lastState_.c_str(), "22") || StartsWith(lastState_.c_str(), "23");
}

std::string PgLink::Describe() const {
    if (conn_ == nullptr)
        return {};
    auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
    return "host=" + text(PQhost(conn_)) + " port=" + text(PQport(conn_)) +
           " dbname=" + text(PQdb(conn_)) + " user=" + text(PQuser(conn_));
}

std::string PgLink::Scrub(std::string text) const {
    for (const std::string& secret : secrets_) {
        for (size_t at = text.find(secret); !secret.empty() && at != std::string::npos;
             at = text.find(secret, at + 8))
            text.replace(at, secret.size(), "********");
    }
    return text;
}

}  // namespace linedb
