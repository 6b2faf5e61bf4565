// The boot fix on a simulated PC: marker files on host-folder drives and on a
// FAT volume of a disk image (checked afterwards with mtools), the bcdedit
// commands it starts, its two messages, and markers it must not act on.
#include "mainapp/shell/boot_fix.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/process/process.h"
#include "platform/process/standins.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using platform::process::ProgramStart;

struct Start {
  std::string arguments;
  std::string folder;
  int show;
};

class BootFixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::process::RegisterProgram(u"bcdedit.exe", [this](const ProgramStart& start) -> DWORD {
      std::lock_guard<std::mutex> lock(mutex_);
      starts_.push_back({platform::to_utf8(start.arguments), platform::to_utf8(start.current_folder), start.show});
      return 0;
    });
    ShellState = ShellStateRecord{};
    ShellState.messageCaption = u"Drummetworks";
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"IDS_bootstring2", u"Device set.", u"IDS_bootstring3", u"System device set."};
    LanguageTable.languageLineCount = 2;
  }
  void TearDown() override {
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }

  // Host-folder drives with the given marker contents (letter -> bytes), an
  // X: drive holding the system folder.
  void MakeDrives(const std::map<char, std::string>& markers, const std::string& extraLetters = "") {
    const std::string dir = pc_.folder();
    fs::create_directories(dir + "/driveX/Windows/System32");
    std::ofstream(dir + "/driveX/Windows/System32/bcdedit.exe") << "MZ";
    std::ofstream ini(dir + "/machine.ini", std::ios::app);
    std::string letters = "X" + extraLetters;
    for (const auto& [letter, bytes] : markers) letters += letter;
    for (char letter : letters) {
      const std::string host = dir + "/drive" + letter;
      fs::create_directories(host);
      ini << "\n[mount " << letter << "]\npath = " << letter << ":\nhost = " << host << "\ndrive_type = fixed\n";
    }
    for (const auto& [letter, bytes] : markers) {
      fs::create_directories(dir + "/drive" + letter + "/BOOT");
      std::ofstream(MarkerOnHost(letter), std::ios::binary) << bytes;
    }
    ini.close();
    pc_.SetIni("os", "system_folder", "X:\\Windows\\System32");
    pc_.Boot();
  }
  std::string MarkerOnHost(char letter) { return pc_.folder() + "/drive" + letter + "/BOOT/BootFix"; }

  struct Outcome {
    std::string failure;
    bool returned = false;
    bool result = false;
    bool exited = false;
    int code = -1;
    std::string log;
  };
  // Runs the fix under a script that answers `boxes` message boxes.
  Outcome Run(int boxes) {
    Outcome out;
    platform::ui::Script script;
    for (int i = 0; i < boxes; ++i) script.answer("ok");
    auto run = disk_fixture::RunHeadless(script, [&] {
      out.result = ApplyBootFix();
      out.returned = true;
    });
    out.failure = run.failure;
    out.exited = run.exited;
    out.code = run.exit_code;
    // bcdedit runs on threads of its own: wait (virtual time) for the starts.
    for (int i = 0; i < 50 && Starts().size() < static_cast<size_t>(boxes); ++i) Sleep(100);
    out.log = run.log;
    return out;
  }
  std::vector<Start> Starts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
  }

  disk_fixture::SimulatedPc pc_;
  std::mutex mutex_;
  std::vector<Start> starts_;
};

const std::string kUtf16D = std::string("D\0:\0", 4);

TEST(BootFixMarker, OnlyADriveLetterAndAColonAreTaken) {
  struct Case {
    std::string bytes;
    const char* drive;
  } cases[] = {
      {std::string("D\0:\0", 4), "D:"},
      {std::string("d\0:\0", 4), "D:"},
      {std::string("Z\0:\0xyz", 7), "Z:"},
      {std::string("D\0:", 3), ""},
      {std::string("D\0", 2), ""},
      {"", ""},
      {std::string("1\0:\0", 4), ""},
      {std::string("D\0;\0", 4), ""},
      {std::string("\0\0:\0", 4), ""},
      {std::string("D\x01:\0", 4), ""},
      {"D:", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    auto text = ParseBootFixMarker(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(platform::to_utf8(text.GetString()), c.drive);
  }
  EXPECT_TRUE(ParseBootFixMarker(nullptr, 4).IsEmpty());
}

TEST_F(BootFixTest, MarkerOnDRepointsTheStoreToDAndEndsTheProgram) {
  MakeDrives({{'D', kUtf16D}}, "C");
  Outcome out = Run(2);
  ASSERT_EQ(out.failure, "") << out.log;
  EXPECT_TRUE(out.exited);
  EXPECT_EQ(out.code, 0);
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments, "/store D:\\boot\\bcd /set {default} device partition=D:");
  EXPECT_EQ(starts[1].arguments, "/store D:\\boot\\bcd /set {default} osdevice partition=D:");
  for (const auto& s : starts) {
    EXPECT_EQ(s.folder, "X:\\Windows\\System32");
    EXPECT_EQ(s.show, SW_SHOW);
  }
  const size_t first = out.log.find("message box \"Drummetworks\": \"Device set.\"");
  const size_t second = out.log.find("message box \"Drummetworks\": \"System device set.\"");
  EXPECT_NE(first, std::string::npos) << out.log;
  EXPECT_NE(second, std::string::npos) << out.log;
  EXPECT_LT(first, second);
  EXPECT_EQ(platform::to_utf8(ShellState.bootFixDrive.GetString()), "D:");
  EXPECT_FALSE(fs::exists(MarkerOnHost('D')));
}

TEST_F(BootFixTest, TheFirstMarkerFromCOnwardsWins) {
  MakeDrives({{'C', std::string("e\0:\0rest", 8)}, {'D', kUtf16D}}, "E");
  Outcome out = Run(2);
  ASSERT_EQ(out.failure, "") << out.log;
  EXPECT_TRUE(out.exited);
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments, "/store E:\\boot\\bcd /set {default} device partition=E:");
  EXPECT_EQ(starts[1].arguments, "/store E:\\boot\\bcd /set {default} osdevice partition=E:");
  EXPECT_FALSE(fs::exists(MarkerOnHost('C')));
  EXPECT_TRUE(fs::exists(MarkerOnHost('D')));
}

TEST_F(BootFixTest, MarkersThatAreNotActedOnChangeNothing) {
  struct Case {
    const char* what;
    char letter;
    std::string bytes;
  } cases[] = {
      {"a marker on W: is never looked for", 'W', kUtf16D},
      {"a marker too short to name a drive", 'D', std::string("D\0", 2)},
      {"an empty marker", 'E', ""},
      {"a marker naming no drive letter", 'F', std::string("\\\0\\\0", 4)},
  };
  std::map<char, std::string> markers;
  for (const auto& c : cases) markers[c.letter] = c.bytes;
  MakeDrives(markers);
  // Each marker on its own: the others are moved away meanwhile.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& other : cases)
      if (other.letter != c.letter && fs::exists(MarkerOnHost(other.letter)))
        fs::rename(MarkerOnHost(other.letter), MarkerOnHost(other.letter) + ".away");
    if (fs::exists(MarkerOnHost(c.letter) + ".away")) fs::rename(MarkerOnHost(c.letter) + ".away", MarkerOnHost(c.letter));
    platform::fs::ReleaseAllDrivers();
    Outcome out = Run(0);
    ASSERT_EQ(out.failure, "") << out.log;
    EXPECT_TRUE(out.returned);
    EXPECT_FALSE(out.result);
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(out.log.find("message box"), std::string::npos) << out.log;
    EXPECT_TRUE(fs::exists(MarkerOnHost(c.letter)));
  }
}

TEST_F(BootFixTest, MarkerOnAFatVolumeIsDeletedFromTheFileSystem) {
  const std::string dir = pc_.folder();
  fs::create_directories(dir + "/driveX/Windows/System32");
  std::ofstream(dir + "/driveX/Windows/System32/bcdedit.exe") << "MZ";
  pc_.AppendIni("\n[mount X]\npath = X:\nhost = " + dir + "/driveX\ndrive_type = fixed\n");
  pc_.SetIni("os", "system_folder", "X:\\Windows\\System32");
  pc_.AddDisk(disk_fixture::DiskSpec{.number = 0, .sizeBytes = 160ull << 20});
  pc_.WriteMbr(0, {disk_fixture::Part{.start = 2048, .count = 140000, .mbrType = 0x0C, .fs = "fat32",
                                      .label = "SYS",
                                      .files = {{"/BOOT/BootFix", std::string("C\0:\0", 4)},
                                                {"/BOOT/keep.txt", "boot files"}}}});
  pc_.Boot();
  Outcome out = Run(2);
  ASSERT_EQ(out.failure, "") << out.log;
  EXPECT_TRUE(out.exited);
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments, "/store C:\\boot\\bcd /set {default} device partition=C:");
  platform::fs::ReleaseAllDrivers();
  const std::string image = pc_.ExtractVolume(0, 2048, 140000, "c.vol");
  std::string listing;
  ASSERT_EQ(disk_fixture::Shell("MTOOLS_SKIP_CHECK=1 mdir -b -i " + image + " ::/BOOT", &listing), 0);
  for (char& ch : listing) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(listing.find("bootfix"), std::string::npos) << listing;
  EXPECT_NE(listing.find("keep.txt"), std::string::npos) << listing;
  EXPECT_EQ(disk_fixture::Shell("fsck.fat -n " + image), 0);
}

}  // namespace
