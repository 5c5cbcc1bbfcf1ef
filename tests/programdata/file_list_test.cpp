#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>

#include "programdata/program_data.h"
#include "support/test_support.h"

using namespace programdata;
using pdtest::HexRecord;
using pdtest::SRecord;

namespace {

const std::string kEnd = ":00000001FF\n";

struct RecordingObserver : FileListObserver {
    void RowInserted(size_t row) override { events.push_back("+" + std::to_string(row)); }
    void RowRemoved(size_t row) override { events.push_back("-" + std::to_string(row)); }
    std::vector<std::string> events;
};

// True when a cooperating writer could take the file now.
bool WriterCanLock(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0)
        return false;
    bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

// Rewrites the file with new content of the same size and puts its old time stamps back.
void ReplaceContentKeepingTimes(const std::string& path, const std::string& content) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    ASSERT_EQ(uint64_t(st.st_size), content.size());
    {
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out << content;
    }
    decltype(st.st_mtim) times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class FileList : public ::testing::Test {
  protected:
    void SetUp() override {
        data.SetObserver(&observer);
        ASSERT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x7FFF}})));
    }
    std::string File(const std::string& name, const std::string& content) {
        return dir.Write(name, content);
    }

    pdtest::TempDir dir;
    pdtest::RecordingReporter reporter;
    RecordingObserver observer;
    ProgramData data{reporter};
};

TEST_F(FileList, RowsShowTheFiveColumnsInTheirStoredFormats) {
    std::string a = File("a.hex", HexRecord(0, 0x2000, {1, 2, 3}) + kEnd);
    std::string b = File("b.s", SRecord(1, 0x3000, {4}) + SRecord(9, 0, {}));
    std::string c = File("c.hex", HexRecord(0, 0x10, {5}) + kEnd);
    std::string d = File("d.hex", HexRecord(4, 0, {0x01, 0x23}) + HexRecord(0, 0x4567, {6}) + kEnd);
    EXPECT_TRUE(data.AddProgramFile(a, 0x100).ok);
    EXPECT_TRUE(data.AddProgramFile(b, -0x1000).ok);
    AddFileResult wrapped = data.AddProgramFile(c, -0x100);
    EXPECT_TRUE(wrapped.ok);
    EXPECT_TRUE(wrapped.warning);  // lands at 0xFFFFFF10, where there is no flash
    AddFileResult high = data.AddProgramFile(d, 0);
    EXPECT_TRUE(high.ok);
    EXPECT_TRUE(reporter.messages.empty());
    ASSERT_EQ(data.rowCount(), 4u);
    EXPECT_EQ(observer.events, (std::vector<std::string>{"+0", "+1", "+2", "+3"}));

    using Row = std::array<std::string, kColumnCount>;
    EXPECT_EQ(data.row(0).columns, (Row{a, "02000H", "02002H", "+00100H", "02100H"}));
    EXPECT_EQ(data.row(1).columns, (Row{b, "03000H", "03000H", "-01000H", "02000H"}));
    EXPECT_EQ(data.row(2).columns, (Row{c, "00010H", "00010H", "-00100H", "FFFFFF10H"}));
    EXPECT_EQ(data.row(3).columns, (Row{d, "1234567H", "1234567H", " 00000H", "1234567H"}));

    // The stored texts read back to the values, also beyond the field parsers' 0xFFFFFF.
    uint32_t start = 0, end = 0;
    int32_t offset = 0;
    ASSERT_TRUE(data.RowValues(1, start, end, offset));
    EXPECT_EQ(offset, -0x1000);
    ASSERT_TRUE(data.RowValues(3, start, end, offset));
    EXPECT_EQ(start, 0x1234567u);
    EXPECT_EQ(offset, 0);
    data.UpdateChecksumField();
    EXPECT_EQ(reporter.ids(), std::vector<int>{});
    EXPECT_FALSE(data.checksumText().empty());
}

TEST_F(FileList, SamePathIsRefusedByExactNameAndMissingFilesCannotBeOpened) {
    std::string a = File("a.hex", HexRecord(0, 0x100, {1}) + kEnd);
    ASSERT_TRUE(data.AddProgramFile(a, 0).ok);

    AddFileResult again = data.AddProgramFile(a, 0x4000);
    EXPECT_FALSE(again.ok);
    ASSERT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_ALREADY_REGISTERED});
    EXPECT_EQ(reporter.messages[0].fileName, a);

    // The same file under another spelling is not recognised by name; its addresses are.
    reporter.Clear();
    EXPECT_FALSE(data.AddProgramFile(dir.path() + "/./a.hex", 0).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OVERLAPS_REGISTERED});

    reporter.Clear();
    AddFileResult missing = data.AddProgramFile(dir.path() + "/none.hex", 0);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OPEN_FAILED});

    // A path longer than the settings file keeps would come back cut at the next start.
    std::string deep = dir.path();
    while (deep.size() < 250)
        deep += "/" + std::string(40, 'd');
    std::filesystem::create_directories(deep);
    std::string longName = deep + "/b.hex";
    std::ofstream(longName) << HexRecord(0, 0x2000, {2}) << kEnd;
    ASSERT_GT(longName.size(), 259u);
    reporter.Clear();
    EXPECT_FALSE(data.AddProgramFile(longName, 0).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OPEN_FAILED});
    EXPECT_EQ(data.rowCount(), 1u);
}

TEST_F(FileList, OverlapsAndDuplicatesAreRefusedAfterOffsetsAreApplied) {
    ASSERT_TRUE(data.AddProgramFile(File("a.hex", HexRecord(0, 0x100, {1, 2}) + kEnd), 0).ok);

    // 0x0F0 + 0x11 = 0x101: collides with the registered file only after the offset.
    std::string b = File("b.hex", HexRecord(0, 0x0F0, {1}) + kEnd);
    EXPECT_FALSE(data.AddProgramFile(b, 0x11).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OVERLAPS_REGISTERED});
    reporter.Clear();
    EXPECT_TRUE(data.AddProgramFile(b, 0x12).ok);

    std::string dup =
        File("dup.hex", HexRecord(0, 0x500, {1, 2}) + HexRecord(0, 0x501, {3}) + kEnd);
    AddFileResult r = data.AddProgramFile(dup, 0);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(reporter.ids(), std::vector<int>{IDS_DUPLICATE_ADDRESSES});
    EXPECT_EQ(reporter.messages[0].fileName, dup);
    EXPECT_EQ(data.rowCount(), 2u);
    EXPECT_TRUE(WriterCanLock(dup));  // a refused file is closed again

    // A registered file above the flash limit on file but moved into flash by a negative
    // offset still takes part in the check.
    reporter.Clear();
    std::string hi =
        File("hi.hex", HexRecord(0, 0x8000, {1, 2}) + HexRecord(0, 0x8200, {3}) + kEnd);
    ASSERT_TRUE(data.AddProgramFile(hi, -0x100).ok);
    EXPECT_FALSE(data.AddProgramFile(File("lo.hex", HexRecord(0, 0x7F01, {9}) + kEnd), 0).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OVERLAPS_REGISTERED});

    reporter.Clear();
    EXPECT_TRUE(data.CheckFileListDuplicates());
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(FileList, ListDuplicatesAppearWhenANewTargetReachesFurther) {
    ASSERT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x0FFF}})));
    std::string a = File("a.hex", HexRecord(0, 0x2000, {1}) + kEnd);
    std::string b = File("b.hex", HexRecord(0, 0x2000, {2}) + kEnd);
    // Above the small target's map both count as outside flash and do not collide.
    EXPECT_TRUE(data.AddProgramFile(a, 0).warning);
    EXPECT_TRUE(data.AddProgramFile(b, 0).warning);
    EXPECT_TRUE(data.CheckFileListDuplicates());

    ASSERT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x3FFF}})));
    EXPECT_FALSE(data.CheckFileListDuplicates());
    ASSERT_EQ(reporter.ids(), std::vector<int>{IDS_DUPLICATE_ADDRESSES});
    EXPECT_EQ(reporter.messages[0].fileName, b);
}

TEST_F(FileList, ReaderFailureAsksForTheFileNameAndRegistersNothing) {
    std::string bad = File("bad.hex", HexRecord(0, 0, {1}));
    AddFileResult r = data.AddProgramFile(bad, 0x10);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.focus, FocusField::FileName);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_NO_END_RECORD});
    EXPECT_EQ(data.rowCount(), 0u);
    EXPECT_TRUE(observer.events.empty());
    EXPECT_TRUE(WriterCanLock(bad));
}

TEST_F(FileList, RegisteredFilesStayLockedUntilTheirRowIsDeleted) {
    std::string a = File("a.hex", HexRecord(0, 0x100, {1}) + kEnd);
    std::string b = File("b.hex", HexRecord(0, 0x200, {1}) + kEnd);
    ASSERT_TRUE(data.AddProgramFile(a, 0).ok);
    ASSERT_TRUE(data.AddProgramFile(b, 0).ok);
    EXPECT_FALSE(WriterCanLock(a));
    EXPECT_FALSE(WriterCanLock(b));

    EXPECT_FALSE(data.DeleteProgramFile(2));
    ASSERT_TRUE(data.DeleteProgramFile(0));
    EXPECT_TRUE(WriterCanLock(a));
    EXPECT_FALSE(WriterCanLock(b));
    ASSERT_EQ(data.rowCount(), 1u);
    EXPECT_EQ(data.row(0).fileName, b);
    EXPECT_EQ(observer.events, (std::vector<std::string>{"+0", "+1", "-0"}));
}

TEST_F(FileList, ChangedFilesAreReportedAsUnopenableAndNeverUsed) {
    std::string a = File("a.hex", HexRecord(0, 0x100, {0x11}) + kEnd);
    ASSERT_TRUE(data.AddProgramFile(a, 0).ok);
    data.UpdateChecksumField();
    const std::string before = data.checksumText();

    // Same size, same time stamps: only the content tells.
    ReplaceContentKeepingTimes(a, HexRecord(0, 0x100, {0x22}) + kEnd);
    data.UpdateChecksumField();
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OPEN_FAILED});
    EXPECT_EQ(reporter.messages[0].fileName, a);
    EXPECT_EQ(data.checksumText(), before);

    reporter.Clear();
    EXPECT_FALSE(data.CheckFileListDuplicates());
    EXPECT_FALSE(data.RecheckFileList());
    EXPECT_FALSE(data.AddProgramFile(File("b.hex", HexRecord(0, 0x300, {1}) + kEnd), 0).ok);
    ReadResult read;
    EXPECT_FALSE(data.ReadProgramFile(data.row(0).file, a, 0, data.writeImage(), read));
    EXPECT_EQ(reporter.ids(), std::vector<int>(4, IDS_FILE_OPEN_FAILED));

    // A file replaced under its name counts as changed too.
    ASSERT_TRUE(data.DeleteProgramFile(0));
    std::string c = File("c.hex", HexRecord(0, 0x100, {0x11}) + kEnd);
    ASSERT_TRUE(data.AddProgramFile(c, 0).ok);
    std::string other = File("other.hex", HexRecord(0, 0x100, {0x11}) + kEnd);
    ASSERT_EQ(::rename(other.c_str(), c.c_str()), 0);
    reporter.Clear();
    EXPECT_FALSE(data.CheckFileListDuplicates());
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_FILE_OPEN_FAILED});
}

TEST_F(FileList, ColumnsThatDoNotReadBackAreInternalErrors) {
    ASSERT_TRUE(data.AddProgramFile(File("a.hex", HexRecord(0, 0x100, {1}) + kEnd), 0).ok);
    data.UpdateChecksumField();
    const std::string before = data.checksumText();
    data.row(0).columns[kColumnEndAddress] = "1:2:3";
    EXPECT_FALSE(data.CheckFileListDuplicates());
    data.row(0).columns[kColumnStartAddress] = "x";
    EXPECT_FALSE(data.CheckFileListDuplicates());
    data.row(0).columns[kColumnOffset] = "*1";
    EXPECT_FALSE(data.CheckFileListDuplicates());
    data.UpdateChecksumField();
    EXPECT_EQ(reporter.ids(),
              (std::vector<int>{IDS_INTERNAL_ERROR_END, IDS_INTERNAL_ERROR_START,
                                IDS_INTERNAL_ERROR_OFFSET, IDS_INTERNAL_ERROR_OFFSET}));
    EXPECT_EQ(data.checksumText(), before);
}

TEST_F(FileList, RecheckAfterATargetChangeWarnsOnce) {
    ASSERT_TRUE(data.AddProgramFile(File("a.hex", HexRecord(0, 0x1000, {1}) + kEnd), 0).ok);
    ASSERT_TRUE(data.AddProgramFile(File("b.hex", HexRecord(0, 0x2000, {1}) + kEnd), 0).ok);
    EXPECT_TRUE(data.RecheckFileList());
    EXPECT_TRUE(reporter.messages.empty());

    ASSERT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x0FFF}})));
    EXPECT_TRUE(data.RecheckFileList());
    ASSERT_EQ(reporter.ids(), std::vector<int>{IDS_DATA_OUTSIDE_FLASH});
    EXPECT_EQ(reporter.messages[0].icon, MessageIcon::Information);
}

TEST_F(FileList, RestoreAddsStoredEntriesAndWarnsOnce) {
    std::string a = File("a.hex", HexRecord(0, 0x1100, {1}) + kEnd);
    std::string b = File("b.hex", HexRecord(0, 0x200, {1}) + kEnd);
    std::string c = File("c.hex", HexRecord(0, 0xA000, {1}) + kEnd);
    data.RestoreFileList({{a, "-01000H"}, {"", ""}, {b, ""}, {c, "+00000H"}});
    ASSERT_EQ(data.rowCount(), 3u);
    EXPECT_EQ(data.row(0).offset, -0x1000);
    EXPECT_EQ(data.row(1).offset, 0);
    EXPECT_EQ(data.columnText(0, kColumnOffset), "-01000H");
    EXPECT_EQ(data.columnText(2, kColumnOffset), " 00000H");
    // The missing entry cannot be opened; c lies above the flash and warns, once.
    EXPECT_EQ(reporter.ids(), (std::vector<int>{IDS_FILE_OPEN_FAILED, IDS_DATA_OUTSIDE_FLASH}));
    EXPECT_EQ(reporter.messages[0].fileName, "");
}

}  // namespace
