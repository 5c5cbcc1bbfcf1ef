// Taking a plug session's serial numbers before its first erase: the settings lock, one read
// of the stored number, and one replacement of the settings file (written, flushed to disk and
// renamed), whatever the number of boards. Goal: under 5 ms a Write. The settings file lives
// in the build tree, on the disk the program would use, not in a memory file system.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/writer_settings.h"

namespace {

void BM_ReserveSerialNumbers(benchmark::State& state) {
    const int boards = int(state.range(0));
    const std::filesystem::path dir =
        std::filesystem::current_path() / ("bench-serial-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "Quorvel.ini").string();
    // A settings file of the size the window leaves: a file list, paths, serial keys.
    std::ofstream(path, std::ios::binary)
        << "[Settings]\r\nTRGNAME=QX16A064\r\nFILENUM=4\r\nFILENAME0=/line/a.hex\r\nOFFSET0= "
           "00000H\r\nFILENAME1=/line/b.hex\r\nOFFSET1=+01000H\r\nFILENAME2=/line/c.s37\r\n"
           "OFFSET2= 00000H\r\nFILENAME3=/line/d.hex\r\nOFFSET3=+08000H\r\nLOGFILENAME=/line/"
           "Quorvel.log\r\nCOMFILENAME=/line/Write_Verify.cd8\r\nMODE=1\r\nFILLTYPE=0\r\n"
           "SERIALNUMFLG=1\r\nSERIALNUM=00000001\r\nSERIALNUMINC=00000001\r\nSERIALNUMLEN=4\r\n"
           "SERIALNUMINCLEN=4\r\nSERIALNUMADDR=0x08000\r\nSECUREIDSIZE=8\r\n"
           "SECUREID=1234ABCD5678EF01\r\n";
    SettingsFile file(path);
    WriterSettings settings;
    file.ReadSerialSettings(settings);
    std::array<uint8_t, kByteFieldSize> first = settings.serialNumber, next{};
    bool nextWrapped = false;
    for (auto _ : state) {
        if (file.ReserveSerialNumbers(settings, boards, false, false, first, next, nextWrapped) !=
            SettingsFile::Reservation::Taken) {
            state.SkipWithError("the numbers could not be taken");
            break;
        }
        first = next;
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReserveSerialNumbers)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
