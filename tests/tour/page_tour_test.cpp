// The tour of every page: each program runs its tour scripts headless on a
// fresh demo PC, once per language (Drummetworks under WinPE as well, Yarv
// from an archive of files and from one of a partition, Fennick with its
// kit served on the loopback), with the widget view measuring the open dialog at every `fits` step. A text
// cut off fails the run with the dialog, the control, what it needs and what
// it has; afterwards every dialog of the program's scripts must have been
// measured in both languages, or be listed below with the reason no tour
// reaches it. The pictures stay in <build>/screenshots/tour/ to be looked at.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "net/fixture_http.h"
#include "pebuilder/udf_stamp.h"
#include "support/shell.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using test_support::Quote;
using test_support::RunCommand;

// What a tour's preparation works on: the fresh demo PC, its copy of the
// install folder (mounted at the program's place), the language and a
// scratch folder; a server the tour needs lives here for the run.
struct TourPc {
  std::string pc, install, language, scratch;
  std::unique_ptr<http_fixture::LoopbackServer> server;
};

// Readies the PC and install folder before the program starts; returns what
// failed, empty when all is ready.
using Prepare = std::function<std::string(TourPc&)>;

struct Tour {
  const char* script;  // below the source tree
  const char* folder;  // added to the language's picture folder ("-winpe")
  bool winpe = false;
  Prepare prepare = nullptr;
};

struct Program {
  const char* name;          // the install folder's name and the mount's
  const char* exe;
  const char* rc_folder;     // its dialog scripts, below the source tree
  std::vector<Tour> tours;
  Prepare language;          // puts the language in the install folder
  // Dialogs no tour opens, with the reason.
  std::map<int, const char*> not_toured;
};

std::string SourceDir() {
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  return source ? source : "";
}

// The settings record of the install folder in the tour's language, with
// the tool's further arguments (which come before the language).
Prepare SettingsRecord(const std::string& record, const std::string& arguments) {
  return [record, arguments](TourPc& t) -> std::string {
    auto made = RunCommand(std::string(SETTINGS_RECORD_EXE) + " " + Quote(t.install + "/" + record) + arguments +
                           " --language " + t.language);
    return made.status == 0 ? "" : "settings_record failed: " + made.output;
  };
}

// Yarv reads its texts from the language library beside its program file.
std::string YarvLanguage(TourPc& t) {
  if (t.language != "Japanese") return "";
  std::error_code ec;
  fs::copy_file(std::string(YARV_LANG_DIR) + "/081/YarvLang.dll", t.install + "/YarvLang.dll",
                fs::copy_options::overwrite_existing, ec);
  return ec ? "no Japanese language library: " + ec.message() : "";
}

// Yarv's program file becomes a self-extracting archive made by the archive
// writer from the staged stand-in, with `arguments` saying what it holds.
std::string WriteYarvArchive(const TourPc& t, const std::string& arguments) {
  auto written = RunCommand(std::string(ARCHIVE_WRITER_EXE) + " " + Quote(t.install) + " --program " +
                            Quote(std::string(STAGE_DIR) + "/Yarv/Yarv.exe") + " --compression zlib" + arguments);
  return written.status == 0 ? "" : "archive_writer failed: " + written.output;
}

// Two small files under a passkey; one of them is already in the folder the
// tour restores to, so the overwrite prompt shows.
std::string YarvFiles(TourPc& t) {
  std::string arguments = " --passkey tour";
  for (const char* name : {"report.doc", "budget.xls"}) {
    std::ofstream(t.scratch + "/" + name) << "The " << name << " of the tour's archive\r\n";
    arguments += " --file " + Quote(t.scratch + "/" + name + "=C:\\Documents\\" + name);
  }
  fs::create_directories(t.install + "/Restored");
  std::ofstream(t.install + "/Restored/report.doc") << "already there\r\n";
  return WriteYarvArchive(t, arguments);
}

// One FAT32 partition of the second disk (its bytes zeros).
std::string YarvPartition(TourPc& t) {
  constexpr int kUnit = 16065, kSectors = kUnit + 100;
  const std::string image = t.scratch + "/partition.img";
  std::ofstream(image, std::ios::binary).close();
  fs::resize_file(image, static_cast<uintmax_t>(kSectors) * 512);
  return WriteYarvArchive(t, " --disk " + Quote(image + ":kind=5,disk=1,first=2048,sectors=" +
                                                std::to_string(kSectors) + ",unit=" + std::to_string(kUnit) +
                                                ",drive=D:,type=0x0C"));
}

// The deployment kit image the download page fetches, served on the loopback
// by a bounded server that the PC's network routes the vendor's host to.
std::string FennickKit(TourPc& t) {
  const std::string name = t.language == "Japanese" ? "KB3AIK_JA.iso" : "KB3AIK_EN.iso";
  const std::string tree = t.scratch + "/kit", image = t.scratch + "/" + name;
  fs::create_directories(tree + "/Docs");
  std::ofstream(tree + "/wAIKX86.msi") << std::string(40000, 'x');
  std::ofstream(tree + "/wAIKAMD64.msi") << std::string(50000, 'a');
  std::ofstream(tree + "/Docs/readme.txt") << "Windows deployment kit\r\n";
  auto made = RunCommand("genisoimage -quiet -udf -input-charset utf-8 -V KITTOUR -o " + Quote(image) + " " +
                         Quote(tree));
  if (made.status != 0) return "genisoimage failed: " + made.output;
  std::string error;
  if (!StampUdfImplementation(image, "*Microsoft CDIMAGE UDF", &error)) return error;
  t.server = std::make_unique<http_fixture::LoopbackServer>(image, 20, 120, "full");
  if (t.server->port() == 0) return "the loopback server did not start";
  std::ofstream(t.pc + "/machine.ini", std::ios::app)
      << "\n[network]\ndownload.kit-vendor.example = " << t.server->endpoint() << "\n";
  return "";
}

const Program kDrummetworks{
    "Drummetworks",
    DRUMMETWORKS_EXE,
    "resources/dialogs",
    {{"apps/drummetworks/screenshots.script", ""}, {"apps/drummetworks/screenshots-winpe.script", "-winpe", true}},
    SettingsRecord("Resources/inf.dll", ""),
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
                        {{"apps/pellimor/screenshots.script", ""}},
                        // The record the install folder ships with: a company and a product,
                        // which the welcome page's texts name.
                        SettingsRecord("Resources/inf.dll",
                                       " --branding --company Corvelware --product Pellimor --image boot.iso --flags 1"),
                        {
                            // Measured instead by tests/usbwriter/pages_test.cpp, which makes them directly.
                            {177, "the source page has no way in from the wizard"},
                            {997, "the format dialog has no way in from the wizard"},
                        }};

const Program kYarv{"Yarv",
                    YARV_EXE,
                    "resources/yarv",
                    {{"apps/yarv/screenshots.script", "", false, YarvFiles},
                     {"apps/yarv/screenshots-partition.script", "-partition", false, YarvPartition}},
                    YarvLanguage,
                    {
                        {102, "the host dialog stays hidden: it only chooses the mode and ends the program"},
                    }};

const Program kFennick{"Fennick",
                       FENNICK_EXE,
                       "resources/fennick",
                       {{"apps/fennick/screenshots.script", "", false, FennickKit}},
                       SettingsRecord("Resources/inf.dll",
                                      " --text1 Corvelware --text2 Fennick --text3 FNK-0001 --number 1"),
                       {}};

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
// in the language, readied for the tour, pictures into `shots`.
TourResult RunTour(const Program& program, const Tour& tour, const std::string& language, const std::string& shots) {
  TourResult out;
  test_support::TempFolder scratch("drum-tour");
  TourPc t{scratch.file("pc"), scratch.file("install"), language, scratch.file("work"), nullptr};
  auto fail = [&](const std::string& what, const std::string& output) {
    out.failure = what + "\n" + output;
    return out;
  };
  auto made = RunCommand(std::string(SIMPC_EXE) + " demo " + Quote(t.pc) + (tour.winpe ? " --winpe" : ""));
  if (made.status != 0) return fail("simpc demo failed", made.output);
  fs::copy(std::string(STAGE_DIR) + "/" + program.name, t.install, fs::copy_options::recursive);
  fs::create_directories(t.scratch);
  if (std::string why = program.language(t); !why.empty()) return fail("the language was not set", why);
  {
    // The program moves the mount to its own place (X: under WinPE) and keeps the host.
    std::ofstream ini(t.pc + "/machine.ini", std::ios::app);
    std::string lower = program.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ini << "\n[mount " << lower << "]\npath = C:\\Program Files\\" << program.name << "\nhost = " << t.install
        << "\nread_only = no\n";
  }
  if (tour.prepare)
    if (std::string why = tour.prepare(t); !why.empty()) return fail("the tour was not prepared", why);
  fs::remove_all(shots);
  fs::create_directories(shots);
  const std::string log = scratch.file("run.log");
  auto run = RunCommand("QT_QPA_PLATFORM=offscreen " + std::string(program.exe) + " --machine " + Quote(t.pc) +
                        " --ui headless --script " + Quote(SourceDir() + "/" + tour.script) + " --screenshots " +
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
    for (const Tour& tour : program.tours) {
      SCOPED_TRACE(std::string(language) + " " + tour.script);
      std::string shots = std::string(SCREENSHOTS_DIR) + "/" + program.name + "/" + language + tour.folder;
      for (char& c : shots) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      TourResult result = RunTour(program, tour, language, shots);
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

TEST(PageTour, YarvPagesShowTheirWholeTextsInBothLanguages) { TourProgram(kYarv); }

TEST(PageTour, FennickPagesShowTheirWholeTextsInBothLanguages) { TourProgram(kFennick); }

}  // namespace
