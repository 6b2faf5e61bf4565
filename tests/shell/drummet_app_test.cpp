// Start-up of Drummetworks on a simulated PC: the settings record read from
// the program folder, a second instance refused without a window, and a
// missing record ending the program silently before any window.
#include "mainapp/shell/drummet_app.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mainapp/shell/instance_mutex.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/process/version_block.h"
#include "platform/startup/startup.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/settings_record.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;

class DrummetAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    host_ = pc_.folder() + "/driveC";
    fs::create_directories(host_ + "/Prog/Resources");
    std::ofstream(pc_.folder() + "/machine.ini", std::ios::app)
        << "\n[mount C]\npath = C:\nhost = " << host_ << "\ndrive_type = fixed\n";
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
  }
  void TearDown() override {
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }

  void WriteRecord(const shell::SettingsFields& fields, size_t keep = shell::kSettingsRecordSize) {
    std::vector<uint8_t> record;
    ASSERT_TRUE(shell::EncodeSettingsRecord(fields, record, nullptr));
    record.resize(keep);
    std::ofstream(host_ + "/Prog/Resources/inf.dll", std::ios::binary)
        .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
  }

  struct Outcome {
    bool returned = false;
    BOOL result = TRUE;
    bool exited = false;
    int code = -1;
    std::string failure;
    std::string log;
  };
  Outcome Start(const std::u16string& command_line) {
    Outcome out;
    CDrummetApp app;
    app.SetProgramPath(u"C:\\Prog\\Drummetworks.exe");
    app.SetCommandLine(u"\"C:\\Prog\\Drummetworks.exe\" " + command_line);
    std::ostringstream log;
    platform::ui::DriverOptions options;
    options.log = &log;
    options.real_grace_ms = 0;
    {
      platform::ui::HeadlessSession session(platform::ui::Script{}, options);
      platform::ScopedExitTrap trap;
      try {
        out.result = app.InitInstance();
        out.returned = true;
      } catch (const platform::ProcessExit& e) {
        out.exited = true;
        out.code = e.code;
      } catch (const platform::ui::ScriptFailure& e) {
        out.failure = e.what();
      }
    }
    out.log = log.str();
    return out;
  }

  disk_fixture::SimulatedPc pc_;
  std::string host_;
};

// Runs first: the program's own guard is created by its first start, so a
// guard made by the test beforehand stands for the earlier instance.
TEST_F(DrummetAppTest, ASecondInstanceEndsWithoutAWindow) {
  InstanceMutex earlier(InstanceMutex::kName);
  ASSERT_FALSE(earlier.AlreadyExists());
  shell::SettingsFields fields;
  fields.text1 = u"Corvelware\\nLtd";
  fields.text3 = u"A\\nB";
  fields.language = u"English";
  WriteRecord(fields);
  for (const char16_t* line : {u"/b oneclick", u"", u"/B ONECLICK /X"}) {
    SCOPED_TRACE(platform::to_utf8(line));
    Outcome out = Start(line);
    EXPECT_TRUE(out.returned) << out.failure << out.log;
    EXPECT_FALSE(out.result);
    EXPECT_EQ(out.log, "") << "no window opens";
    EXPECT_EQ(ShellState.commandLine, CString(platform::to_utf8(line) == "" ? u"" : line).MakeUpper().GetString());
    EXPECT_EQ(ShellState.programFolder, u"C:\\Prog");
    EXPECT_EQ(ShellState.settingsText1, u"Corvelware\nLtd");
    EXPECT_EQ(ShellState.settingsText3, u"A\\nB");
    EXPECT_EQ(ShellState.languageName, u"English");
  }
}

TEST_F(DrummetAppTest, AMissingSettingsRecordEndsTheProgramSilently) {
  Outcome out = Start(u"");
  EXPECT_TRUE(out.exited) << out.failure << out.log;
  EXPECT_EQ(out.code, 0);
  EXPECT_EQ(out.log, "") << "no window, no message";
  EXPECT_TRUE(ShellState.languageName.IsEmpty()) << "ended before the language was chosen";
}

TEST_F(DrummetAppTest, LoadSettingsRecordReadsOnlyTheRecordsBytes) {
  shell::SettingsFields fields;
  fields.text2 = u"line one\\nline two";
  fields.language = u"Japanese";
  fields.number = u"42";
  WriteRecord(fields);
  // Trailing bytes after the record do not matter.
  std::ofstream(host_ + "/Prog/Resources/inf.dll", std::ios::binary | std::ios::app) << std::string(100, 'Z');
  ShellState.programFolder = u"C:\\Prog";
  CString language;
  EXPECT_EQ(LoadSettingsRecord(&language), 42);
  EXPECT_EQ(language, u"Japanese");
  EXPECT_EQ(ShellState.settingsText2, u"line one\nline two");

  // A record cut inside field 4 keeps what was read and zeros the rest.
  WriteRecord(fields, 392);
  EXPECT_EQ(LoadSettingsRecord(&language), 0);
  EXPECT_EQ(language, u"Japa");
}

// The program's compiled version resource is what its file on the simulated
// PC carries once the platform starts it, so the About box has a version.
TEST_F(DrummetAppTest, StartingTheProgramGivesItsFileTheCompiledVersion) {
  platform::startup::StartOptions start;
  start.machine_dir = pc_.folder();
  start.program_image = u"C:\\Prog\\Drummetworks.exe";
  start.command_line = u"\"C:\\Prog\\Drummetworks.exe\"";
  std::string error;
  ASSERT_TRUE(platform::startup::Start(start, &error)) << error;
  DWORD handle = 1;
  const DWORD size = GetFileVersionInfoSizeW(u"C:\\Prog\\Drummetworks.exe", &handle);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(u"C:\\Prog\\Drummetworks.exe", 0, size, block.data()));
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"1, 0, 0, 1");
  platform::process::UnregisterVersionBlock(u"C:\\Prog\\Drummetworks.exe");
}

}  // namespace
