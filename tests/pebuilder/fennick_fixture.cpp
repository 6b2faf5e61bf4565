#include "fennick_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fixture_udf.h"
#include "pebuilder/fennick_pages.h"
#include "pebuilder/fennick_support.h"
#include "pebuilder/kit_page.h"
#include "platform/core/text.h"
#include "platform/process/machine_link.h"
#include "platform/process/process.h"
#include "platform/process/process_context.h"
#include "platform/process/version_block.h"
#include "platform/startup/startup.h"
#include "platform/ui/resources.h"

namespace fennick_fixture {

namespace fs = std::filesystem;

const std::string kStage = std::string(DRUM_BUILD_DIR) + "/stage/Fennick";

void ResetFennickValues() {
  ProgramFolder.Empty();
  UiLanguage.Empty();
  LngTable.clear();
  ProductCaption.Empty();
  BrowseResultFolder.Empty();
  BrowseStartFolder.Empty();
  WinPeLanguage.Empty();
  AgreementAccepted = false;
  BuildStarted = false;
  IsoReady = false;
  DownloadState = 0;
  DownloadTotal = 0;
  DownloadedBytes = 0;
  KitInstalledThisRun = false;
  BackFromBuildPage = false;
}

void FennickPc::SetUp() {
  fs::create_directories(C("Windows/System32"));
  fs::create_directories(C("Program Files"));
  fs::copy(kStage, Program(""), fs::copy_options::recursive);
  pc_.AppendIni("\n[mount c]\npath = C:\nhost = " + scratch_.file("c") + "\ndrive_type = fixed\n");
}

void FennickPc::TearDown() { server_.reset(); }

void FennickPc::MakeKitImage(const std::string& name) {
  kitImage_ = scratch_.file(name);
  std::vector<udf_fixture::TreeFile> tree = {
      {"wAIKX86.msi", disk_fixture::Pattern(40000, 11)},
      {"wAIKAMD64.msi", disk_fixture::Pattern(50000, 12)},
      {"Docs/readme.txt", "Windows deployment kit\r\n"},
  };
  udf_fixture::MakeGenisoUdf(tree, kitImage_);
  udf_fixture::StampImplementation(kitImage_, kKitTool);
}

void FennickPc::Serve(const std::string& mode, const std::string& name, int requests) {
  if (kitImage_.empty()) MakeKitImage(name);
  server_ = std::make_unique<http_fixture::LoopbackServer>(kitImage_, requests, 120, mode);
  ASSERT_NE(server_->port(), 0);
  pc_.AppendIni("\n[network]\ndownload.kit-vendor.example = " + server_->endpoint() + "\n");
}

void FennickPc::Boot(const std::string& language) {
  ASSERT_EQ(disk_fixture::Shell(std::string(DRUM_BUILD_DIR) + "/tools/settings_record/settings_record '" +
                                Program("Resources/inf.dll") + "' --language " + language +
                                " --text1 Corvelware --text2 Fennick --text3 FNK-0001 --number 1"),
            0);
  pc_.Boot();
  // As the program's start-up does: the folder chooser sees the PC's files,
  // and the program file carries the compiled-in version block.
  platform::startup::ConnectLayers();
  const std::u16string image = u"C:\\Program Files\\Fennick\\Fennick.exe";
  platform::process::SetProgramImage(image, u"\"" + image + u"\"");
  if (const auto* version = platform::ui::FindBinaryResource(platform::ui::kVersionResource, 1))
    platform::process::RegisterVersionBlock(image, std::vector<uint8_t>(version->data, version->data + version->size));
  ResetFennickValues();
  platform::process::RegisterProgram(u"Pellimor.exe", [](const platform::process::ProgramStart& start) -> DWORD {
    platform::process::MachineLog("Pellimor started in \"" + platform::to_utf8(start.current_folder) + "\"");
    return 0;
  });
}

disk_fixture::HeadlessRun FennickPc::Run(const platform::ui::Script& script, const std::string& shots) {
  return disk_fixture::RunHeadless(
      script,
      [] {
        CFennickApp app;
        app.SetProgramPath(u"C:\\Program Files\\Fennick\\Fennick.exe");
        app.InitInstance();
      },
      [shots](platform::ui::DriverOptions& options) {
        if (!shots.empty()) options.screenshots_dir = shots;
      });
}

std::string FennickPc::MachineLog() const {
  std::ifstream in(pc_.folder() + "/machine.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace fennick_fixture
