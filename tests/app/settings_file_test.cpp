#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/writer_settings.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "programdata/address_text.h"

namespace fs = std::filesystem;

namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quorvel_settings_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "Quorvel.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& content) {
        std::ofstream(path_, std::ios::binary) << content;
    }
    std::string FileContent() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Key(const char* key) const {
        char buffer[2048] = {};
        plat::GetPrivateProfileStringA("Settings", key, "<missing>", buffer, sizeof buffer,
                                       path_.c_str());
        return buffer;
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsFileTest, ReadersLeaveDefaultsWithoutAFile) {
    SettingsFile file(path_);
    EXPECT_FALSE(file.Exists());
    std::string name = "keep";
    int32_t mode = 7, fill = 7;
    uint32_t flag = 7;
    std::vector<StoredProgramFile> files = {{"a", "b"}};
    std::string serialText = "keep";
    EXPECT_FALSE(file.ReadTargetName(name));
    EXPECT_FALSE(file.ReadMode(mode));
    EXPECT_FALSE(file.ReadFillType(fill));
    EXPECT_FALSE(file.ReadProgramFiles(files));
    EXPECT_FALSE(file.ReadSerialFlag(flag));
    EXPECT_FALSE(file.ReadSerialNumberText(serialText));
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(mode, 7);
    EXPECT_EQ(fill, 7);
    EXPECT_EQ(flag, 7u);
    EXPECT_EQ(files.size(), 1u);
    EXPECT_EQ(serialText, "keep");

    // The serial-number readers take their defaults: serial number and increment 1 of 4 bytes.
    WriterSettings s;
    file.ReadSerialSettings(s);
    EXPECT_EQ(s.serialOn, 0u);
    EXPECT_EQ(s.serialLength, 4);
    EXPECT_EQ(s.incrementLength, 4);
    EXPECT_EQ(FormatHexBytes(s.serialNumber, 4), "00000001");
    EXPECT_EQ(FormatHexBytes(s.increment, 4), "00000001");
    EXPECT_FALSE(fs::exists(path_)) << "reading never creates the file";
}

TEST_F(SettingsFileTest, ModeAndFillTypeReadAsStored) {
    WriteFile("[Settings]\r\nMODE=7\r\nFILLTYPE=5\r\nTRGNAME=QX16A064\r\n");
    SettingsFile file(path_);
    int32_t mode = -1, fill = -1;
    std::string name;
    ASSERT_TRUE(file.ReadMode(mode));
    ASSERT_TRUE(file.ReadFillType(fill));
    ASSERT_TRUE(file.ReadTargetName(name));
    EXPECT_EQ(mode, 0) << "anything but 1 is detail mode";
    EXPECT_EQ(fill, 5) << "the fill type is kept as stored";
    EXPECT_EQ(name, "QX16A064");

    WriteFile("[Settings]\r\nMODE=1\r\n");
    ASSERT_TRUE(file.ReadMode(mode));
    EXPECT_EQ(mode, 1);
}

TEST_F(SettingsFileTest, SerialSettingsRoundTripInKeyFormats) {
    SettingsFile file(path_);
    WriterSettings out;
    out.serialOn = 1;
    out.serialAddress = 0x1F00;
    out.serialLength = 2;
    out.incrementLength = 3;
    out.serialNumber = {0x12, 0x34};
    out.increment = {0x00, 0x00, 0x05};
    ASSERT_TRUE(file.WriteSerialSettings(out));
    EXPECT_EQ(Key("SERIALNUMFLG"), "1");
    EXPECT_EQ(Key("SERIALNUM"), "1234");
    EXPECT_EQ(Key("SERIALNUMINC"), "000005");
    EXPECT_EQ(Key("SERIALNUMLEN"), "2");
    EXPECT_EQ(Key("SERIALNUMINCLEN"), "3");
    EXPECT_EQ(Key("SERIALNUMADDR"), "0x01F00");

    WriterSettings in;
    in.serialNumber.fill(0xEE);  // stale bytes beyond the length must go
    file.ReadSerialSettings(in);
    EXPECT_EQ(in.serialOn, 1u);
    EXPECT_EQ(in.serialAddress, 0x1F00u);
    EXPECT_EQ(in.serialLength, 2);
    EXPECT_EQ(in.incrementLength, 3);
    EXPECT_EQ(in.serialNumber, out.serialNumber);
    EXPECT_EQ(in.increment, out.increment);
}

TEST_F(SettingsFileTest, SerialSettingsFromAnEditedFile) {
    SettingsFile file(path_);
    // A short value is right-aligned; the 0x prefix and H suffix are accepted.
    WriteFile("[Settings]\r\nSERIALNUM=1234\r\nSERIALNUMINC=0x12H\r\n");
    WriterSettings s;
    file.ReadSerialSettings(s);
    EXPECT_EQ(FormatHexBytes(s.serialNumber, 5), "0000123400");
    EXPECT_EQ(FormatHexBytes(s.increment, 4), "00000012");

    // An unusable value keeps the previous bytes within the length and clears the rest.
    WriteFile("[Settings]\r\nSERIALNUM=12G4\r\nSERIALNUMLEN=2\r\n");
    s.serialNumber.fill(0x77);
    file.ReadSerialSettings(s);
    EXPECT_EQ(FormatHexBytes(s.serialNumber, 3), "777700");

    // Lengths beyond the 256-byte fields are limited, never used as they stand.
    WriteFile("[Settings]\r\nSERIALNUMLEN=300\r\nSERIALNUMINCLEN=0\r\nSERIALNUM=" +
              std::string(600, 'F') + "\r\n");
    file.ReadSerialSettings(s);
    EXPECT_EQ(s.serialLength, 256);
    EXPECT_EQ(s.incrementLength, 1);
}

TEST_F(SettingsFileTest, SerialKeysStopAtTheFirstFailedWrite) {
    std::vector<std::string> attempted;
    SettingsFile file(
        path_, [&](const char* section, const char* key, const char* value, const char* name) {
            attempted.push_back(key);
            if (std::string(key) == "SERIALNUMINC")
                return false;
            return plat::WritePrivateProfileStringA(section, key, value, name);
        });
    WriterSettings s;
    EXPECT_FALSE(file.WriteSerialSettings(s));
    EXPECT_EQ(attempted, (std::vector<std::string>{"SERIALNUMFLG", "SERIALNUM", "SERIALNUMINC"}));
    EXPECT_EQ(Key("SERIALNUM"), "00000001");
    EXPECT_EQ(Key("SERIALNUMLEN"), "<missing>");

    attempted.clear();
    SettingsFile ok(path_,
                    [&](const char* section, const char* key, const char* value, const char* name) {
                        attempted.push_back(key);
                        return plat::WritePrivateProfileStringA(section, key, value, name);
                    });
    EXPECT_TRUE(ok.WriteSerialSettings(s));
    EXPECT_EQ(attempted,
              (std::vector<std::string>{"SERIALNUMFLG", "SERIALNUM", "SERIALNUMINC", "SERIALNUMLEN",
                                        "SERIALNUMINCLEN", "SERIALNUMADDR"}));
}

TEST_F(SettingsFileTest, SecurityIdRoundTripAndRefusals) {
    SettingsFile file(path_);
    std::array<uint8_t, kByteFieldSize> field{};
    uint32_t size = 99;
    EXPECT_FALSE(file.ReadSecurityId(field, size)) << "no stored ID";

    const std::array<uint8_t, 6> id = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01};
    ASSERT_TRUE(file.WriteSecurityId(id, 6));
    EXPECT_EQ(Key("SECUREIDSIZE"), "6");
    EXPECT_EQ(Key("SECUREID"), "1234ABCD0001");
    field.fill(0xEE);
    ASSERT_TRUE(file.ReadSecurityId(field, size));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(FormatHexBytes(field, 8), "1234ABCD00010000");
    EXPECT_EQ(field[255], 0);

    // A size of 0 writes the size alone; the old ID text stays as it was.
    ASSERT_TRUE(file.WriteSecurityId(id, 0));
    EXPECT_EQ(Key("SECUREIDSIZE"), "0");
    EXPECT_EQ(Key("SECUREID"), "1234ABCD0001");

    // A damaged value is not sent to a target: no ID, field untouched.
    WriteFile("[Settings]\r\nSECUREIDSIZE=4\r\nSECUREID=12XY\r\n");
    field.fill(0x33);
    EXPECT_FALSE(file.ReadSecurityId(field, size));
    EXPECT_EQ(field[0], 0x33);
}

TEST_F(SettingsFileTest, ShutdownWritesTheListAndKeepsEverythingElse) {
    WriteFile(
        "; operator notes\r\n[Settings]\r\nTRGNAME=QX08C032\r\nSERIALNUMFLG=1\r\n"
        "FILENUM=4\r\nFILENAME3=/old/stale.hex\r\n[Other]\r\nX=1\r\n");
    SettingsFile file(path_);
    WriterSettings s;
    s.programFiles = {{"/p/a.hex", "-01000H"}, {"/p/b.s", " 00000H"}};
    s.logFileName = "/p/Quorvel.log";
    s.commandFileName = "/p/Write_Verify.cd8";
    s.mode = 7;
    s.fillType = 5;
    ASSERT_TRUE(file.SaveAtShutdown(s));
    EXPECT_EQ(Key("FILENUM"), "2");
    EXPECT_EQ(Key("FILENAME0"), "/p/a.hex");
    EXPECT_EQ(Key("OFFSET0"), "-01000H");
    EXPECT_EQ(Key("FILENAME1"), "/p/b.s");
    EXPECT_EQ(Key("LOGFILENAME"), "/p/Quorvel.log");
    EXPECT_EQ(Key("COMFILENAME"), "/p/Write_Verify.cd8");
    EXPECT_EQ(Key("MODE"), "0");
    EXPECT_EQ(Key("FILLTYPE"), "5");
    EXPECT_EQ(Key("TRGNAME"), "QX08C032");
    EXPECT_EQ(Key("FILENAME3"), "/old/stale.hex") << "entries beyond FILENUM stay, ignored";
    EXPECT_NE(FileContent().find("; operator notes"), std::string::npos);
    EXPECT_NE(FileContent().find("[Other]"), std::string::npos);

    // Read back, the raw offset text survives (a blank in front included).
    std::vector<StoredProgramFile> files;
    ASSERT_TRUE(file.ReadProgramFiles(files));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].fileName, "/p/b.s");
    EXPECT_EQ(programdata::OffsetTextToNumber(files[0].offsetText), -4096);
}

TEST_F(SettingsFileTest, MissingEntriesReadAsEmptyNames) {
    WriteFile(
        "[Settings]\r\nFILENUM=3\r\nFILENAME0=/a.hex\r\nOFFSET0=+00100H\r\n"
        "FILENAME2=/c.hex\r\n");
    std::vector<StoredProgramFile> files;
    ASSERT_TRUE(SettingsFile(path_).ReadProgramFiles(files));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], (StoredProgramFile{"/a.hex", "+00100H"}));
    EXPECT_EQ(files[1], (StoredProgramFile{"", ""}));
    EXPECT_EQ(files[2], (StoredProgramFile{"/c.hex", ""}));

    WriteFile("[Settings]\r\nFILENUM=-3\r\n");
    ASSERT_TRUE(SettingsFile(path_).ReadProgramFiles(files));
    EXPECT_TRUE(files.empty());
}

// The file holds the security ID: a new one is its owner's alone; a mode the owner chose stays.
// A write that fails part way (a kill, a full disk) never leaves a wrapped number without its
// mark: the mark is set before the number and cleared after it.
TEST_F(SettingsFileTest, AFailedWriteNeverLeavesAWrappedNumberUnmarked) {
    const auto failingAt = [this](const char* failing) {
        return SettingsFile(path_, [failing](const char* section, const char* key,
                                             const char* value, const char* name) {
            return std::string(key) != failing &&
                   plat::WritePrivateProfileStringA(section, key, value, name);
        });
    };
    WriteFile("[Settings]\r\nSERIALNUM=FFFFFFFE\r\n");
    WriterSettings s;
    std::array<uint8_t, kByteFieldSize> first = {0xFF, 0xFF, 0xFF, 0xFE}, next{};
    bool nextWrapped = false;
    EXPECT_EQ(failingAt("SERIALNUMOVF")
                  .ReserveSerialNumbers(s, 2, false, false, first, next, nextWrapped),
              SettingsFile::Reservation::Failed);
    EXPECT_TRUE(nextWrapped);
    EXPECT_EQ(Key("SERIALNUM"), "FFFFFFFE") << "no wrapped number without its mark";

    // The operator's new start clears the mark only once the number stands.
    WriteFile("[Settings]\r\nSERIALNUM=00000002\r\nSERIALNUMOVF=1\r\n");
    EXPECT_FALSE(failingAt("SERIALNUM").WriteSerialSettings(s, true));
    EXPECT_EQ(Key("SERIALNUMOVF"), "1");
}

// Every write reads the whole file and puts a new one in its place: one made while another
// program holds the settings lock would undo the numbers that program is taking.
TEST_F(SettingsFileTest, EveryWriteWaitsForTheSettingsLock) {
    WriteFile("[Settings]\r\nTRGNAME=QX16A064\r\n");
    auto holder = std::make_unique<plat::FileLock>();
    ASSERT_TRUE(holder->Acquire(path_, 0));
    std::atomic<bool> written{false};
    std::thread writer([&] {
        SettingsFile file(path_);
        written = file.WriteTargetName("QX08C032");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Key("TRGNAME"), "QX16A064") << "written while another held the lock";
    holder.reset();
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(Key("TRGNAME"), "QX08C032");
}

TEST_F(SettingsFileTest, ANewFileIsTheOwnersAloneAndAnExistingOneKeepsItsMode) {
    const auto mode = [this] { return fs::status(path_).permissions() & fs::perms::all; };
    SettingsFile file(path_);
    ASSERT_TRUE(file.WriteTargetName("QX16A064"));
    EXPECT_EQ(mode(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(path_, fs::perms::group_read, fs::perm_options::add);
    ASSERT_TRUE(file.WriteTargetName("QX08C032"));
    EXPECT_EQ(mode(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFileTest, UnwritableFileReportsFailure) {
    // A directory where the file should be: no write can succeed, whoever runs the test.
    fs::create_directories(path_);
    SettingsFile file(path_);
    EXPECT_FALSE(file.WriteTargetName("QX08C032"));
    WriterSettings s;
    EXPECT_FALSE(file.SaveAtShutdown(s));
    EXPECT_FALSE(file.WriteSerialSettings(s));
}

}  // namespace
