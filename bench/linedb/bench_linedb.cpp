// Taking a Write's serial numbers from the line's pool: one transaction on a local PostgreSQL
// server (the pool's row locked, one row per number, the pool moved on, committed to disk),
// over a connection the station holds since its Plug; and the same with a connection made for
// it (the first Write of a program that could not connect at Plug). Goal: under 5 ms a Write
// for 32 boards. The server is a scratch one of this benchmark's own (tests/linedb/pg_scratch.sh),
// its data in /tmp, with the server's defaults for durability (fsync, synchronous commit).
// And an operation's rows kept in the outbox while the server is away.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "linedb/line_client.h"

namespace {

std::string Scratch(const std::string& command) {
    static const std::string state = "/tmp/bench-linedb-" + std::to_string(::getpid());
    FILE* pipe = ::popen(("'" PG_SCRATCH "' " + command + " " + state).c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        out += buffer;
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    return status == 0 ? out.substr(0, out.find('\n')) : std::string();
}

struct Line {
    Line() {
        connection = Scratch("start");
        if (connection.empty())
            return;
        settings.serialOn = 1;
        settings.line = {connection, "bench", "QX16A064"};
        linedb::InitRequest init;
        init.line = settings.line;
        init.start[3] = 1;
        init.increment[3] = 1;
        linedb::InitReport report;
        if (linedb::InitLine(init, report))
            connection.clear();
    }
    ~Line() { Scratch("destroy"); }
    std::string connection;
    WriterSettings settings;
};

// The benchmark's line, or null (after saying why) when it has none.
Line* TheLine(benchmark::State& state) {
    static Line line;
    if (line.connection.empty()) {
        state.SkipWithError("no scratch PostgreSQL server");
        return nullptr;
    }
    return &line;
}

SerialRequest Boards(int count) {
    SerialRequest request;
    for (int n = 1; n <= count; ++n)
        request.boards.push_back({n, "/run/user/0/vexil/vexil-" + std::to_string(n)});
    request.run = request.cycle = "0123456789abcdef0123456789abcdef";
    return request;
}

void BM_TakeFromPool(benchmark::State& state) {
    Line* line = TheLine(state);
    if (line == nullptr)
        return;
    const SerialRequest request = Boards(int(state.range(0)));
    linedb::LineClient client;
    client.Open(line->settings.line, "");
    for (auto _ : state) {
        if (client.Pool().Take(line->settings, request).outcome != SerialGrant::Outcome::Taken) {
            state.SkipWithError("the numbers could not be taken");
            break;
        }
    }
}
BENCHMARK(BM_TakeFromPool)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_ConnectAndTakeFromPool(benchmark::State& state) {
    Line* line = TheLine(state);
    if (line == nullptr)
        return;
    const SerialRequest request = Boards(int(state.range(0)));
    for (auto _ : state) {
        linedb::LineClient client;
        if (client.Pool().Take(line->settings, request).outcome != SerialGrant::Outcome::Taken) {
            state.SkipWithError("the numbers could not be taken");
            break;
        }
    }
}
BENCHMARK(BM_ConnectAndTakeFromPool)->Arg(32)->Unit(benchmark::kMillisecond);

// An operation's end while the server is away: 32 rows appended to an outbox that already
// holds a backlog of range(0) rows. Goal: the same time whatever the backlog.
void BM_DeliverWhileAway(benchmark::State& state) {
    const std::string dir = "/tmp/bench-linedb-outbox-" + std::to_string(::getpid());
    const std::string record = dir + "/record.csv";
    std::filesystem::create_directories(dir);
    std::filesystem::remove(linedb::OutboxPathFor(record));
    const LineSettings away{"host=/nonexistent/pg port=5999 dbname=x connect_timeout=1", "bench",
                            "QX16A064"};
    std::vector<LineRecordRow> rows(32);
    for (size_t n = 0; n < rows.size(); ++n) {
        programdata::RecordRow& row = rows[n].row;
        row = {"2026-12-08T09:15:02+01:00",
               "pc7",
               "Program",
               int(n + 1),
               "/run/user/0/vexil/vexil-" + std::to_string(n + 1),
               "QX16A064",
               "QX16A064",
               "0000" + std::to_string(1000 + n),
               "4F2A",
               0,
               "OK",
               812};
        rows[n].run = rows[n].cycle = "0123456789abcdef0123456789abcdef";
    }
    linedb::LineClient client;
    client.Open(away, record);  // out of reach: rows wait from now on
    for (int64_t backlog = 0; backlog < state.range(0); backlog += int64_t(rows.size()))
        client.Record().Deliver(away, record, rows);
    for (auto _ : state) {
        if (client.Record().Deliver(away, record, rows)) {
            state.SkipWithError("the rows could not be kept");
            break;
        }
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DeliverWhileAway)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
