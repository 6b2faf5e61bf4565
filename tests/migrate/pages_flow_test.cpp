// The file and folder migration as a user walks it, headless: the main
// dialog's command opens the source page, the script expands C:, ticks a
// folder and one file of another, chooses the destination with the folder
// dialog, goes on to the copy page, starts the copy and closes the end
// message. The copy is then read back with tools that did not write it
// (ntfscat and ntfsls on an NTFS destination, mtools and fsck.fat on a FAT32
// one, cmp against the host's reference bytes). A second walk puts the
// destination inside a ticked folder: the copy page refuses before copying,
// Back returns to the source page with its ticks, and nothing was written.
// Every page and the end message are pictured in English and Japanese with
// the Qt view's widgets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "clone/clone_fixture.h"
#include "fixture_migrate_pc.h"
#include "mainapp/migrate/backup_files_page.h"
#include "mainapp/migrate/file_tree_ctrl.h"
#include "mainapp/migrate/migrate_commands.h"
#include "mainapp/migrate/migration_copy.h"
#include "mainapp/migrate/migration_copy_page.h"
#include "mainapp/migrate/migration_state.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/main_dialog.h"
#include "platform/core/text.h"
#include "program_support/language_table.h"
#include "platform/fs/file_api.h"
#include "platform/startup/startup.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/render.h"
#include "tests/support/copied_volume.h"

namespace {

using clone_fixture::PutFile;
using disk_fixture::Shell;
using migrate_fixture::MigratePc;

constexpr int kTree = CBackupFiles::kTree;
const std::string kDrive = "Desktop/Computer/SOURCE (C:)";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One walk per destination, each in one language: NTFS in English, FAT32 in
// Japanese.
struct LanguageWalk {
  const char* language;
  const char* destination;
  int disk;
  bool ntfs;
};
constexpr LanguageWalk kWalks[] = {{"English", "D:\\Copy", 1, true}, {"Japanese", "E:\\Copy", 2, false}};

// Screenshots drawn by the Qt view's widgets rather than the model's own
// simple drawings; put back afterwards.
class WidgetPictures {
 public:
  WidgetPictures() {
    std::string error;
    ok_ = platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error);
    error_ = error;
    if (ok_) platform::ui::set_window_renderer(platform::ui::qt::RenderWithWidgets);
  }
  ~WidgetPictures() { platform::ui::set_window_renderer(nullptr); }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  bool ok_ = false;
  std::string error_;
};

class PagesFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pictures.ok()) << pictures.error();
    platform::startup::ConnectLayers();  // the folder dialog sees the simulated PC's folders
    w = std::make_unique<MigratePc>();
    for (const char16_t* folder : {u"C:\\Data", u"C:\\Data\\Photos", u"C:\\Data\\Photos\\Old", u"C:\\Other",
                                   u"D:\\Copy", u"E:\\Copy"})
      ASSERT_TRUE(CreateDirectoryW(folder, nullptr)) << platform::to_utf8(folder);
    PutFile(u"C:\\Data\\notes.txt", "notes of the day");
    PutFile(u"C:\\Data\\Photos\\Old\\summer.txt", "an old summer");
    PutFile(u"C:\\Other\\keep.txt", "kept");
    PutFile(u"C:\\Other\\leave.txt", "left where it is");
    // 3 MiB of a seeded pattern, kept on the host as the reference.
    reference = w->pc.folder() + "/photo.ref";
    ASSERT_EQ(Shell("openssl enc -aes-128-ctr -nosalt -pass pass:page -in /dev/zero 2>/dev/null | head -c 3145728 > '" +
                    reference + "'"),
              0);
    std::string bytes;
    ASSERT_EQ(Shell("cat '" + reference + "'", &bytes), 0);
    PutFile(u"C:\\Data\\Photos\\beach.jpg", bytes);
    MigrationState = MigrationStateRecord{};
    MigrationProgress = MigrationProgressRecord{};
    FileTreeGlobals.tickCount = 0;
    RegisterMigrateCommands();
  }
  void TearDown() override { MigrationEntryFlag = false; }

  // The source page's steps up to a chosen destination: C: expanded, the
  // Data folder and one file of Other ticked.
  void SourceSteps(platform::ui::Script& s, const std::string& destination, const std::string& shot) {
    s.expect_dialog(CBackupFiles::IDD)
        .expect_disabled(CBackupFiles::kNext)
        .expect_disabled(CBackupFiles::kBrowse)
        .expand(kTree, "Desktop/Computer")
        .expand(kTree, kDrive)
        .expand(kTree, kDrive + "/Other")
        .tick_path(kTree, kDrive + "/Data")
        .expect_state(kTree, kDrive + "/Data", kAllTicked)
        .tick_path(kTree, kDrive + "/Other/keep.txt")
        .expect_state(kTree, kDrive + "/Other", kSomeFiles)
        .expect_enabled(CBackupFiles::kBrowse)
        .expect_disabled(CBackupFiles::kNext)
        .click(CBackupFiles::kBrowse)
        .choose(destination)
        .expect_enabled(CBackupFiles::kNext);
    if (!shot.empty()) s.screenshot("migrate-source" + shot);
    s.click(CBackupFiles::kNext).expect_dialog(CClone1::IDD);
  }

  // The folder the walks leave their pictures in.
  static std::string PicturesFolder() {
    const std::string folder = ::testing::TempDir() + "migrate-pages";
    std::filesystem::create_directories(folder);
    return folder;
  }
  // A walk in `language` starts from empty migration records.
  void StartWalk(const char* language) {
    w->UseLanguage(language);
    MigrationState = MigrationStateRecord{};
    MigrationProgress = MigrationProgressRecord{};
  }

  test_support::HeadlessRun Walk(const platform::ui::Script& script, const std::string& folder) {
    CDrummetDlg dialog(nullptr);
    return disk_fixture::RunHeadless(
        script, [&] { EXPECT_TRUE(shell::RunMainCommand(dialog, shell::kCmdFilesMigration)); },
        [&](platform::ui::DriverOptions& o) { o.screenshots_dir = folder; });
  }

  WidgetPictures pictures;
  std::unique_ptr<MigratePc> w;
  std::string reference;
};

// One walk per destination, each in one language; the copy is read back
// from the destination's image with that file system's own tools.
TEST_F(PagesFlowTest, TicksDestinationCopyAndEndMessageInBothLanguages) {
  const std::string folder = PicturesFolder();
  for (const LanguageWalk& walk : kWalks) {
    SCOPED_TRACE(walk.language);
    StartWalk(walk.language);
    const std::string suffix = std::string("-") + walk.language + ".png";
    platform::ui::Script script;
    SourceSteps(script, walk.destination, suffix);
    std::string upper = walk.destination;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    script.expect_text(1187, upper)
        .screenshot("migrate-copy" + suffix)
        .click(CClone1::kStart)
        .screenshot("migrate-end" + suffix)
        .answer("ok");
    auto run = Walk(script, folder);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(MigrationEntryFlag) << "the command marks the migration as the entry";
    EXPECT_EQ(MigrationState.itemCount, 2) << "the Data folder and keep.txt";
    // Onto FAT the end message says, once, that no access-control list is kept.
    EXPECT_EQ(MigrationState.failedCount, walk.ntfs ? 0 : 1)
        << platform::to_utf8(MigrationState.failedItems.GetString());
    const std::string done =
        platform::to_utf8(LookupString(walk.ntfs ? u"IDS_Completed_File" : u"IDS_Completed_Error_File").GetString());
    ASSERT_FALSE(done.empty());
    EXPECT_TRUE(Has(run.log, "message box \"Drummetworks\": \"" + done)) << "the end message tells the outcome\n"
                                                                          << run.log;
    for (const char* page : {"migrate-source", "migrate-copy", "migrate-end"})
      EXPECT_TRUE(std::filesystem::exists(folder + "/" + page + suffix)) << page;

    const test_support::CopiedVolume copy(w->Volume(walk.disk, std::string("dest-") + walk.language + ".img"),
                                          walk.ntfs ? "ntfs" : "fat32");
    EXPECT_EQ(copy.Cat("/Copy/Data/notes.txt"), "notes of the day");
    EXPECT_EQ(copy.Cat("/Copy/Data/Photos/Old/summer.txt"), "an old summer");
    EXPECT_EQ(copy.Cat("/Copy/keep.txt"), "kept");
    EXPECT_TRUE(copy.SameBytes("/Copy/Data/Photos/beach.jpg", reference));
    std::string out;
    EXPECT_TRUE(copy.Consistent(&out)) << out;
    const std::string listing = copy.List("/Copy");
    EXPECT_TRUE(Has(listing, "Data")) << listing;
    EXPECT_FALSE(Has(listing, "leave")) << "an unticked file stays behind\n" << listing;
    EXPECT_FALSE(Has(listing, "Other")) << "a partly ticked folder gives only its ticked files\n" << listing;
  }
}

// A destination inside a ticked folder: Start refuses with a message that
// names both, Back returns to the source page with the ticks kept, Cancel
// leaves; nothing was written into the source.
TEST_F(PagesFlowTest, DestinationInsideATickedFolderIsRefusedBeforeCopying) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Data\\Out", nullptr));
  const std::string folder = PicturesFolder();
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    StartWalk(language);
    platform::ui::Script script;
    SourceSteps(script, "C:\\Data\\Out", "");
    script.click(CClone1::kStart)
        .screenshot(std::string("migrate-refused-") + language + ".png")
        .answer("ok")
        .expect_dialog(CClone1::IDD)
        .expect_enabled(CClone1::kStart)
        .click(CClone1::kBack)
        .expect_dialog(CBackupFiles::IDD)
        .expect_state(kTree, kDrive + "/Data", kAllTicked)
        .expect_state(kTree, kDrive + "/Other/keep.txt", kFileTicked)
        .expect_enabled(CBackupFiles::kNext)
        .click(IDCANCEL);
    auto run = Walk(script, folder);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(Has(run.log, "C:\\DATA\\OUT")) << "the message names the destination\n" << run.log;
    EXPECT_EQ(GetFileAttributesW(u"C:\\Data\\Out\\Data"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"C:\\Data\\Out\\keep.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(MigrationState.failedCount, 0);
  }
}

// Cancel asks in the migration's own words, before the copy and while it
// runs: No before Start leaves the page as it was; Yes while the copy runs
// stops it after the file in hand, and the end message says it was
// cancelled. The copy holds some of the big files whole, not all of them,
// and the files after the cancel never arrived (read back with the
// destination's own tools).
TEST_F(PagesFlowTest, CancelAsksAboutTheMigrationAndStopsARunningCopy) {
  constexpr int kFiles = 12;
  auto name = [](int i) { return "big" + std::to_string(100 + i).substr(1) + ".bin"; };
  for (int i = 0; i < kFiles; ++i)
    PutFile(u"C:\\Data\\" + platform::to_utf16(name(i)), disk_fixture::Pattern(MigratePc::kMiB, 300 + i));
  const std::string folder = PicturesFolder();
  for (const LanguageWalk& walk : kWalks) {
    SCOPED_TRACE(walk.language);
    StartWalk(walk.language);
    platform::ui::Script script;
    SourceSteps(script, walk.destination, "");
    script.click(IDCANCEL)
        .answer("no")
        .expect_dialog(CClone1::IDD)
        .expect_enabled(CClone1::kStart)
        .click(CClone1::kStart)
        .expect_progress(kMigrationProgressBar, 30)
        .click(IDCANCEL)
        .answer("yes")
        .answer("ok");
    auto run = Walk(script, folder);
    ASSERT_EQ(run.failure, "") << run.log;
    auto text = [](const char16_t* key) { return platform::to_utf8(LookupString(key).GetString()); };
    for (const char16_t* key : {u"IDS_MigrateCancelAsk", u"IDS_MigrateCancelRunning", u"IDS_Aborted_File"})
      EXPECT_TRUE(Has(run.log, "\"" + text(key))) << platform::to_utf8(key) << "\n" << run.log;
    for (const char16_t* key : {u"IDS_MSGCANCELMIRROR", u"IDS_mirrorcancel1"})
      EXPECT_FALSE(Has(run.log, text(key))) << "a question of the clone\n" << run.log;
    EXPECT_FALSE(Has(run.log, "uplication")) << run.log;
    EXPECT_NE(MigrationProgress.abortRequested, 0);

    const test_support::CopiedVolume copy(w->Volume(walk.disk, std::string("cancel-") + walk.language + ".img"),
                                          walk.ntfs ? "ntfs" : "fat32");
    int whole = 0;
    for (int i = 0; i < kFiles; ++i)
      whole += copy.Cat("/Copy/Data/" + name(i)) == disk_fixture::Pattern(MigratePc::kMiB, 300 + i) ? 1 : 0;
    EXPECT_GT(whole, 0) << "the copy had begun";
    EXPECT_LT(whole, kFiles) << "the copy went on after Cancel";
    EXPECT_EQ(copy.Cat("/Copy/keep.txt"), "") << "the item after the cancel was copied";
    std::string out;
    EXPECT_TRUE(copy.Consistent(&out)) << out;
  }
}

// Every text the migration's pages and copy run look up is there in both
// languages (a missing key shows as the key itself, as "IDS_File:C:\..."
// once did on the copy page).
TEST_F(PagesFlowTest, EveryKeyThePagesLookUpHasBothLanguages) {
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::set<std::string> keys;
  const std::regex key(R"re(u"(IDS_[A-Za-z0-9_]+)")re");
  for (const char* name : {"backup_files_page.cpp", "migration_copy_page.cpp", "migration_copy.cpp",
                           "file_tree_ctrl.cpp"}) {
    std::ifstream in(std::string(source) + "/mainapp/migrate/" + name);
    ASSERT_TRUE(in) << name;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) keys.insert((*it)[1]);
  }
  // Looked up only to decide whether the system menu offers the About box.
  keys.erase("IDS_ABOUTBOX");
  ASSERT_GE(keys.size(), 30u) << "the scan found the pages' keys";
  for (const char* k : {"IDS_File", "IDS_Folder", "IDS_Completed_File", "IDS_MigrateDestInsideAsk"})
    EXPECT_TRUE(keys.count(k)) << k;
  for (const char* language : {"English", "Japanese"}) {
    w->UseLanguage(language);
    for (const std::string& k : keys) {
      const std::u16string wide = platform::to_utf16(k);
      const CString text = LookupString(wide.c_str());
      EXPECT_FALSE(text.IsEmpty() || text == CString(wide)) << language << ": " << k;
    }
  }
}

}  // namespace
