// The tour of every page: each program runs its tour script headless on a
// fresh demo PC, once per language (and Drummetworks under WinPE as well),
// with the widget view measuring the open dialog at every `fits` step. A text
// cut off fails the run with the dialog, the control, what it needs and what
// it has; afterwards every dialog of the program's scripts must have been
// measured in both languages, or be listed below with the reason no tour
// reaches it. The pictures stay in <build>/screenshots/tour/ to be looked at.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/shell.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using test_support::Quote;
using test_support::RunCommand;

struct Program {
  const char* name;          // the install folder's name and the mount's
  const char* exe;
  const char* rc_folder;     // its dialog scripts, below the source tree
  std::vector<const char*> scripts;  // tour scripts below the source tree (the second one runs under WinPE)
  bool branding;             // Pellimor's record instead of the settings record
  // Dialogs no tour opens, with the reason.
  std::map<int, const char*> not_toured;
};

const Program kDrummetworks{
    "Drummetworks",
    DRUMMETWORKS_EXE,
    "resources/dialogs",
    {"apps/drummetworks/screenshots.script", "apps/drummetworks/screenshots-winpe.script"},
    false,
    {
        // Measured instead by tests/shell_qt/pages_fit_test.cpp, which makes them directly.
        {176, "the splash shows only when a finished clone restarts into it"},
        {207, "the restart prompt needs the one-click command line"},
        {208, "the shut-down prompt follows a finished clone"},
        {192, "the wait dialog shows only while a long step runs"},
        {137, "the mirror progress page has no way in from the main dialog"},
        {138, "the clone summary follows a clone, which the tour does not run"},
        {193, "the scan summary follows a whole scan"},
        {152, "the deletion summary follows a whole deletion"},
        {209, "the attribute list opens from the wizard's hidden Diagnostic button"},
        {210, "the attribute table has no way in"},
        {213, "the single-page partition manager has no way in"},
        {235, "the demo PC has no partition that can grow"},
        {216, "the format progress runs a format"},
        {206, "the format question comes from a clone onto an unformatted disk"},
        {245, "the quick duplicate pages have no way in from the main dialog"},
        {246, "the quick duplicate pages have no way in from the main dialog"},
        {247, "the quick duplicate pages have no way in from the main dialog"},
    }};

const Program kPellimor{"Pellimor",
                        PELLIMOR_EXE,
                        "resources/pellimor",
                        {"apps/pellimor/screenshots.script"},
                        true,
                        {
                            // Measured instead by tests/usbwriter/pages_test.cpp, which makes them directly.
                            {177, "the source page has no way in from the wizard"},
                            {997, "the format dialog has no way in from the wizard"},
                        }};

std::string SourceDir() {
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  return source ? source : "";
}

// Every dialog id of the program's scripts.
std::set<int> DialogIds(const Program& program) {
  std::set<int> ids;
  const std::regex line(R"(^(\d+)\s+DIALOGEX\b)");
  for (const auto& entry : fs::directory_iterator(fs::path(SourceDir()) / program.rc_folder)) {
    if (entry.path().extension() != ".rc") continue;
    std::ifstream in(entry.path());
    std::string text;
    std::smatch m;
    while (std::getline(in, text))
      if (std::regex_search(text, m, line)) ids.insert(std::stoi(m[1]));
  }
  return ids;
}

struct TourResult {
  std::string failure;    // empty when the script ran to its end
  std::set<int> measured; // dialogs whose texts were found to fit
};

// One run: a fresh demo PC whose install folder is a copy of the staged one
// with the language's record, the tour script, pictures into `shots`.
TourResult RunTour(const Program& program, const std::string& script, bool winpe, const std::string& language,
                   const std::string& shots) {
  TourResult out;
  test_support::TempFolder scratch("drum-tour");
  const std::string pc = scratch.file("pc");
  const std::string install = scratch.file("install");
  auto fail = [&](const std::string& what, const std::string& output) {
    out.failure = what + "\n" + output;
    return out;
  };
  auto made = RunCommand(std::string(SIMPC_EXE) + " demo " + Quote(pc) + (winpe ? " --winpe" : ""));
  if (made.status != 0) return fail("simpc demo failed", made.output);
  fs::copy(std::string(STAGE_DIR) + "/" + program.name, install, fs::copy_options::recursive);
  auto record = RunCommand(std::string(SETTINGS_RECORD_EXE) + " " + Quote(install + "/Resources/inf.dll") +
                           (program.branding ? " --branding" : "") + " --language " + language);
  if (record.status != 0) return fail("settings_record failed", record.output);
  {
    // The program moves the mount to its own place (X: under WinPE) and keeps the host.
    std::ofstream ini(pc + "/machine.ini", std::ios::app);
    std::string lower = program.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ini << "\n[mount " << lower << "]\npath = C:\\Program Files\\" << program.name << "\nhost = " << install
        << "\nread_only = no\n";
  }
  fs::remove_all(shots);
  fs::create_directories(shots);
  const std::string log = scratch.file("run.log");
  auto run = RunCommand("QT_QPA_PLATFORM=offscreen " + std::string(program.exe) + " --machine " + Quote(pc) +
                        " --ui headless --script " + Quote(SourceDir() + "/" + script) + " --screenshots " +
                        Quote(shots) + " --log " + Quote(log));
  std::ifstream in(log);
  std::string line, all;
  const std::regex fits(R"(texts fit in dialog (\d+) )");
  std::smatch m;
  while (std::getline(in, line)) {
    all += line + "\n";
    if (std::regex_search(line, m, fits)) out.measured.insert(std::stoi(m[1]));
  }
  if (run.status != 0) return fail("exit status " + std::to_string(run.status) + "\n" + run.output, all);
  return out;
}

void TourProgram(const Program& program) {
  ASSERT_FALSE(SourceDir().empty()) << "DRUM_SOURCE_DIR is not set";
  const std::set<int> dialogs = DialogIds(program);
  ASSERT_FALSE(dialogs.empty());
  for (const char* language : {"English", "Japanese"}) {
    std::set<int> measured;
    for (size_t i = 0; i < program.scripts.size(); ++i) {
      const bool winpe = i == 1;
      SCOPED_TRACE(std::string(language) + (winpe ? " under WinPE" : ""));
      std::string shots = std::string(SCREENSHOTS_DIR) + "/" + program.name + "/" + language + (winpe ? "-WinPE" : "");
      for (char& c : shots) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      TourResult result = RunTour(program, program.scripts[i], winpe, language, shots);
      EXPECT_EQ(result.failure, "") << program.name << " in " << language;
      measured.insert(result.measured.begin(), result.measured.end());
    }
    for (int id : dialogs) {
      const bool listed = program.not_toured.count(id) > 0;
      if (!measured.count(id) && !listed)
        ADD_FAILURE() << program.name << " dialog " << id << " was not measured in " << language;
      if (measured.count(id) && listed)
        ADD_FAILURE() << program.name << " dialog " << id << " is toured now: take it off the list";
    }
  }
}

TEST(PageTour, DrummetworksPagesShowTheirWholeTextsInBothLanguagesAndModes) { TourProgram(kDrummetworks); }

TEST(PageTour, PellimorPagesShowTheirWholeTextsInBothLanguages) { TourProgram(kPellimor); }

}  // namespace
