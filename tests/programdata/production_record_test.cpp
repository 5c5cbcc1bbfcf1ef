// The production record's lines and its file: RFC 4180 fields, the header of a new file, one
// append per batch, and a tail that a crash cut.
#include "programdata/production_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/locked_file.h"
#include "support/test_support.h"

namespace {

using namespace programdata;
namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    return pdtest::ReadFileText(path.string());
}

class RecordFileTest : public ::testing::Test {
  protected:
    pdtest::TempDir temp_;
    const fs::path dir_{temp_.path()};
};

TEST(RecordLineTest, QuotesOnlyFieldsThatNeedItAndEndsInCrLf) {
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    // CR LF ends lines only: inside a field every line break is LF.
    EXPECT_EQ(CsvField("one\r\ntwo\rthree\n"), "\"one\ntwo\nthree\n\"");

    const RecordRow row{.time = "2026-12-08T09:15:02+01:00",
                        .host = "line-7",
                        .operation = "Write",
                        .target = 3,
                        .status = 0x6305,
                        .message = "Failed.\nCheck it.",
                        .durationMs = 1234};
    EXPECT_EQ(RecordLine(row),
              "2026-12-08T09:15:02+01:00,line-7,Write,3,,,,,,0x6305,\"Failed.\nCheck it.\","
              "1234\r\n");

    std::tm t{};
    t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 8, t.tm_hour = 9, t.tm_min = 5, t.tm_gmtoff = -9000;
    EXPECT_EQ(IsoLocalTime(t), "2026-12-08T09:05:00-02:30");

    // Where %z names the zone (Windows), the offset comes from the time itself.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone != nullptr ? zone : "";
    ::setenv("TZ", "XYZ-05:30", 1);
    ::tzset();
    std::tm newYear{};
    newYear.tm_year = 127, newYear.tm_mday = 1, newYear.tm_hour = 2, newYear.tm_isdst = -1;
    EXPECT_EQ(UtcOffsetOf(newYear), "+05:30") << "across the year's end in UTC";
    ::setenv("TZ", "XYZ+03", 1);
    ::tzset();
    EXPECT_EQ(UtcOffsetOf(t), "-03:00");
    if (zone != nullptr)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

// A spreadsheet runs a field that starts like a formula (the record's columns: production_test).
TEST(RecordLineTest, TextThatStartsLikeAFormulaGetsAnApostrophe) {
    for (const char* formula : {"=1+2", "+1", "-1+2", "@SUM(A1)", "\tx", "\rx"})
        EXPECT_EQ(SpreadsheetText(formula), std::string("'") + formula) << formula;
    for (const char* plain : {"", "a=b", " =1", "'=1", "QX16A064"})
        EXPECT_EQ(SpreadsheetText(plain), plain) << plain;
}

TEST_F(RecordFileTest, AHeaderStartsANewFileAndEachBatchIsAppended) {
    const fs::path file = dir_ / "r.csv";
    ASSERT_TRUE(AppendRecordLines(file.string(), "a\r\nb\r\n"));
    ASSERT_TRUE(AppendRecordLines(file.string(), "c\r\n"));
    EXPECT_EQ(Read(file), RecordHeaderLine() + "a\r\nb\r\nc\r\n");
}

TEST_F(RecordFileTest, ATornTailIsCutButAForeignFileKeepsItsContent) {
    const fs::path file = dir_ / "r.csv";
    std::ofstream(file, std::ios::binary) << RecordHeaderLine() << "a\r\n\"half, of a";
    ASSERT_TRUE(AppendRecordLines(file.string(), "b\r\n"));
    EXPECT_EQ(Read(file), RecordHeaderLine() + "a\r\nb\r\n");

    std::ofstream(file, std::ios::binary) << "Time,Ho";  // even the header was cut
    ASSERT_TRUE(AppendRecordLines(file.string(), "b\r\n"));
    EXPECT_EQ(Read(file), RecordHeaderLine() + "b\r\n");

    std::ofstream(file, std::ios::binary) << "notes\nof the shift";
    ASSERT_TRUE(AppendRecordLines(file.string(), "b\r\n"));
    EXPECT_EQ(Read(file), "notes\nof the shift\r\nb\r\n");
}

TEST_F(RecordFileTest, AFileThatCannotTakeTheBatchAnswersFalse) {
    EXPECT_FALSE(AppendRecordLines(dir_.string(), "a\r\n")) << "a directory";
    EXPECT_FALSE(AppendRecordLines((dir_ / "no" / "r.csv").string(), "a\r\n"));
    EXPECT_FALSE(AppendRecordLines("", "a\r\n"));
    const fs::path held = dir_ / "program.hex";
    std::ofstream(held) << ":00000001FF\n";
    plat::LockedFile program;
    ASSERT_TRUE(program.Open(held.string()));
    EXPECT_FALSE(AppendRecordLines(held.string(), "a\r\n")) << "a registered program file";
    EXPECT_EQ(Read(held), ":00000001FF\n");
}

}  // namespace
