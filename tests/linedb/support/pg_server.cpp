#include "support/pg_server.h"

#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

PgServer& PgServer::Get() {
    static PgServer server;
    return server;
}

PgServer::PgServer() {
    state_ = std::string(QUORVEL_BINARY_DIR) + "/tests/linedb-pg-" + std::to_string(::getpid());
    std::string out;
    if (Script("start", &out))
        base_ = out.substr(0, out.find('\n'));
}

PgServer::~PgServer() {
    Script("destroy");
}

bool PgServer::Script(const std::string& command, std::string* out) {
    const std::string line = std::string("'") + PG_SCRATCH + "' " + command + " '" + state_ + "'";
    FILE* pipe = ::popen(line.c_str(), "r");
    std::string text;
    char buffer[512];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        text += buffer;
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (out != nullptr)
        *out = text;
    if (code == 77)
        missing_ =
            "no PostgreSQL server binaries (initdb, pg_ctl): the line database tests need "
            "the package postgresql";
    else if (code != 0)
        failed_ = "pg_scratch.sh " + command + " failed (" + std::to_string(code) + ")";
    return code == 0;
}

std::string PgServer::NewDatabase() {
    const std::string name = "line" + std::to_string(++databases_);
    Sql(base_, "CREATE DATABASE " + name);
    return base_.substr(0, base_.rfind("dbname=")) + "dbname=" + name;
}

bool PgServer::Stop() {
    return Script("stop");
}

bool PgServer::Restart() {
    return Script("restart");
}

SqlRows Sql(const std::string& connection, const std::string& query) {
    SqlRows rows;
    PGconn* conn = PQconnectdb(connection.c_str());
    PGresult* result = PQexec(conn, query.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        rows.push_back({PQerrorMessage(conn)});
    } else {
        for (int r = 0; r < PQntuples(result); ++r) {
            rows.emplace_back();
            for (int c = 0; c < PQnfields(result); ++c)
                rows.back().push_back(PQgetisnull(result, r, c) ? "<null>"
                                                                : PQgetvalue(result, r, c));
        }
    }
    PQclear(result);
    PQfinish(conn);
    return rows;
}

std::string SqlValue(const std::string& connection, const std::string& query) {
    const SqlRows rows = Sql(connection, query);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
}

LineSettings Line(const std::string& connection, const std::string& station,
                  const std::string& pool) {
    return {connection, station, pool};
}
