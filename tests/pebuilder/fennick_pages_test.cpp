// Fennick's wizard run headless from its start-up on a simulated PC: the
// agreement page's choices and Escape unwinding to it, the whole road from
// the agreement through the kit downloaded from the loopback server,
// installed by msiexec and built into an ISO (checked by isoinfo and xorriso)
// to Pellimor's start, pause and resume, broken downloads that install
// nothing, an unwritable download folder, a kit already present, and every
// page in English and Japanese with screenshots.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fennick_fixture.h"
#include "fixture_udf.h"
#include "platform/core/text.h"
#include "platform/registry/registry.h"

namespace {

namespace fs = std::filesystem;
using fennick_fixture::FennickPc;
using platform::ui::Script;

constexpr const char* kDownloadFailed =
    "The deployment kit could not be downloaded. Check the network connection and try again.";

// Agreement accepted, on to the kit page.
Script ToKitPage() {
  Script s;
  s.expect_dialog(741).click(1011).click(1004).expect_dialog(964);
  return s;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string RegistryText(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Downloader", 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char16_t buffer[512] = {};
  DWORD bytes = sizeof(buffer) - 2, type = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return "<none>";
  return platform::to_utf8(std::u16string(buffer, bytes / 2));
}

TEST_F(FennickPc, AgreementChoicesAndEscapeUnwinding) {
  Boot();
  Script s;
  s.expect_dialog(741)
      .expect_checked(1012)
      .expect_disabled(1004)
      .key("enter")  // decline ticked: Enter does not accept
      .click(1011)
      .expect_enabled(1004)
      .click(1012)
      .expect_disabled(1004)
      .click(1005)
      .answer("no")
      .click(1011)
      .click(1004)
      .expect_dialog(964)
      .key("escape")  // unwinds to start-up, which shows the agreement again with the choice kept
      .expect_dialog(741)
      .expect_checked(1011)
      .expect_enabled(1004)
      .click(1005)
      .answer("yes");
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.log.find("Do you want to quit Fennick?"), std::string::npos) << run.log;
  // Only the one Next press reached the kit page.
  const std::string opened = "dialog 964 \"Fennick\" opened";
  size_t first = run.log.find(opened);
  ASSERT_NE(first, std::string::npos) << run.log;
  EXPECT_EQ(run.log.find(opened, first + 1), std::string::npos) << run.log;
}

TEST_F(FennickPc, WholeRoadFromDownloadToPellimor) {
  Serve("full");
  Boot();
  Script s = ToKitPage();
  s.expect_disabled(1640)
      .expect_text(1009, "Download")
      .click(1009)
      .expect_enabled(1640)
      .expect_text(1013, "C:\\Program Files\\Windows AIK")
      .expect_disabled(1009)
      .click(1640)
      .expect_dialog(965)
      .click(1640)
      .expect_text(1652, "The Windows PE image was created successfully.")
      .expect_text(1640, "Finish")
      .expect_disabled(1653)
      .click(1640)
      .expect_dialog(1322)
      .key("escape")
      .key("enter")
      .expect_dialog(1322)
      .click(1004);
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  // The image arrived whole; the pause record was cleared.
  EXPECT_TRUE(FileBytes(C("temp/KB3AIK_EN.iso")) == FileBytes(kitImage_));
  EXPECT_EQ(RegistryText(u"CurLen"), "");
  std::string log = MachineLog();
  EXPECT_NE(log.find("installed \"c:\\temp\\Fennick\\wAIKX86.msi\" exit=0"), std::string::npos) << log;
  EXPECT_NE(log.find("started in \"C:\\Program Files\\Fennick\\Tools\""), std::string::npos) << log;
  // The collected image: bootable, labelled, the source and working folder gone.
  const std::string iso = Program("Tools/CD.iso");
  ASSERT_TRUE(fs::exists(iso));
  EXPECT_FALSE(fs::exists(C("yarv.iso")));
  EXPECT_FALSE(fs::exists(C("kozt_pe31")));
  std::string out;
  ASSERT_EQ(disk_fixture::Shell("isoinfo -d -i '" + iso + "'", &out), 0);
  EXPECT_NE(out.find("Volume id: FENNICK_PE\n"), std::string::npos) << out;
  ASSERT_EQ(disk_fixture::Shell("xorriso -indev '" + iso + "' -report_el_torito plain 2>&1", &out), 0);
  EXPECT_NE(out.find("El Torito boot img :   1  BIOS  y   none"), std::string::npos) << out;
  ASSERT_EQ(disk_fixture::Shell("isoinfo -f -J -i '" + iso + "'", &out), 0);
  for (const char* name : {"/bootmgr", "/sources/boot.wim", "/fennick/media.ini"})
    EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;
  // The scripts were made from the English templates with the kit folder.
  std::string script = FileBytes(Program("Resources/1.cmd"));
  EXPECT_NE(script.find("call \"C:\\Program Files\\Windows AIK\\Tools\\PETools\\copype.cmd\" x86 C:\\kozt_pe31"),
            std::string::npos)
      << script;
}

TEST_F(FennickPc, PauseKeepsTheRecordAndResumeCompletesTheImage) {
  Serve("full");
  Boot();
  Script s = ToKitPage();
  s.click(1009)
      .expect_progress(1018, 1)  // the download is under way
      .click(1009)               // Pause, taken by the download loop at its next pass
      .expect_text(1009, "Resume")
      .expect_disabled(1640)
      .click(1005)
      .answer("yes");
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(RegistryText(u"downloadpath"), "c:\\temp");
  EXPECT_EQ(RegistryText(u"CurUrl"),
            "download.kit-vendor.example/download/8/E/9/8E9BBC64-E6F8-457C-9B8D-F6C9A16E6D6A/KB3AIK_EN.iso");
  const std::string length = RegistryText(u"CurLen");
  ASSERT_FALSE(length.empty());
  EXPECT_EQ(length.find_first_not_of("0123456789"), std::string::npos) << length;
  EXPECT_EQ(FileBytes(C("temp/KB3AIK_EN.iso")).size(), std::stoull(length));
  EXPECT_EQ(MachineLog().find("msiexec"), std::string::npos);

  // Within one run: pause, resume, and the image is whole.
  fennick_fixture::ResetFennickValues();
  Script again = ToKitPage();
  // The pause is taken once Browse is enabled again; Resume then continues
  // the file. A Resume pressed before the loop took the pause lets it go on.
  again.click(1009).expect_progress(1018, 1).click(1009).expect_text(1009, "Resume").expect_enabled(1638);
  again.click(1009).click(1009).click(1009).expect_enabled(1640).click(1005).answer("yes");
  run = Run(again);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(FileBytes(C("temp/KB3AIK_EN.iso")) == FileBytes(kitImage_));
  EXPECT_EQ(RegistryText(u"CurLen"), "");
  EXPECT_TRUE(fs::exists(C("Program Files/Windows AIK/Tools/PETools/copype.cmd")));
}

struct BrokenCase {
  const char* what;
  const char* mode;          // the server's answer ("" = the server is gone)
  const char* served;        // the file name the server serves
  bool udf;                  // the served file is a kit image
  const char* message;
  const char* button;        // the Download button afterwards
  bool damaged = false;      // a kit image whose first package's data extent is marked not recorded
};

class BrokenDownload : public FennickPc, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenDownload, NothingIsInstalled) {
  const BrokenCase& c = GetParam();
  if (!c.udf) {
    kitImage_ = scratch_.file(c.served);
    std::ofstream(kitImage_, std::ios::binary) << disk_fixture::Pattern(70000, 5);
  }
  if (c.damaged) {
    MakeKitImage(c.served);
    std::vector<uint8_t> bytes = udf_fixture::ReadImage(kitImage_);
    const size_t entry = udf_fixture::EntryOf(bytes, udf_fixture::FindIdentifier(bytes, "wAIKX86.msi"));
    const size_t descriptor = entry + 176 + udf_fixture::Get32(bytes, entry + 168);
    udf_fixture::Put32(bytes, descriptor, udf_fixture::Get32(bytes, descriptor) | 1u << 30);
    udf_fixture::WriteImage(kitImage_, bytes);
  }
  Serve(*c.mode ? c.mode : "full", c.served);
  if (!*c.mode) server_->Stop();
  Boot();
  Script s = ToKitPage();
  s.click(1009).answer("ok").expect_text(1009, c.button).expect_disabled(1640).expect_enabled(1638).click(1005).answer(
      "yes");
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find(c.message), std::string::npos) << run.log;
  EXPECT_EQ(MachineLog().find("msiexec"), std::string::npos) << MachineLog();
  EXPECT_FALSE(fs::exists(C("Program Files/Windows AIK")));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BrokenDownload,
    ::testing::Values(
        BrokenCase{"not_found", "full", "KB3AIK_JA.iso", true, kDownloadFailed, "Download"},
        BrokenCase{"truncated", "truncated", "KB3AIK_EN.iso", true, kDownloadFailed, "Resume"},
        BrokenCase{"no_length", "nolength", "KB3AIK_EN.iso", true, kDownloadFailed, "Download"},
        BrokenCase{"server_gone", "", "KB3AIK_EN.iso", true, kDownloadFailed, "Download"},
        BrokenCase{"not_a_kit_image", "full", "KB3AIK_EN.iso", false,
                   "The downloaded file is not a disc image of the deployment kit.", "Download"},
        BrokenCase{"damaged_kit_image", "full", "KB3AIK_EN.iso", true,
                   "The disc image of the deployment kit is damaged", "Download", true}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) { return std::string(info.param.what); });

TEST_F(FennickPc, UnwritableDownloadFolderIsReported) {
  Serve("full");
  std::ofstream(C("temp")) << "a file where the folder should be";
  Boot();
  Script s = ToKitPage();
  s.click(1009).answer("ok").expect_text(1009, "Download").click(1005).answer("yes");
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("The download folder c:\\temp cannot be written."), std::string::npos) << run.log;
  EXPECT_EQ(FileBytes(C("temp")), "a file where the folder should be");
}

TEST_F(FennickPc, KitPresentIsAnnouncedOnceAndEscapeUnwindsEveryPage) {
  fs::create_directories(C("Program Files/Windows AIK"));
  Boot();
  Script s;
  s.expect_dialog(741)
      .click(1011)
      .click(1004)
      .answer("ok")  // shown while the kit page starts
      .expect_dialog(964)
      .expect_text(1013, "C:\\Program Files\\Windows AIK")
      .expect_disabled(1009)
      .expect_enabled(1640)
      .key("enter")
      .expect_dialog(965)
      .click(1003)  // Back: a new kit page, without the message
      .expect_dialog(964)
      .expect_enabled(1640)
      .key("escape")
      .expect_dialog(741)  // every page unwound; start-up shows the agreement again
      .key("escape");
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_FALSE(run.exited);
  size_t first = run.log.find("already installed");
  ASSERT_NE(first, std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("already installed", first + 1), std::string::npos) << run.log;
}

TEST_F(FennickPc, BrowseTakesOnlyAKitFolder) {
  fs::create_directories(C("Kits/Windows AIK"));
  Boot();
  Script s = ToKitPage();
  s.click(1638)
      .choose("C:\\Kits\\Windows AIK")
      .expect_text(1013, "C:\\Kits\\Windows AIK")
      .expect_enabled(1640)
      .click(1638)
      .choose("C:\\temp")  // not a kit folder: Next goes off, the edit keeps its text
      .expect_disabled(1640)
      .expect_text(1013, "C:\\Kits\\Windows AIK")
      .key("enter")  // Enter does not pass a disabled Next
      .expect_dialog(964)
      .click(1005)
      .answer("yes");
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.log.find("dialog 965"), std::string::npos) << run.log;
}

TEST_F(FennickPc, FailedBuildKeepsNothingAndSaysSo) {
  // A kit folder without the kit's tools: the scripts fail, no image is made.
  fs::create_directories(C("Program Files/Windows AIK"));
  std::ofstream(C("yarv.iso")) << "left over from another build";
  Boot();
  Script s;
  s.expect_dialog(741)
      .click(1011)
      .click(1004)
      .answer("ok")
      .expect_dialog(964)
      .click(1640)
      .expect_dialog(965)
      .click(1640)
      .expect_text(1652, "The Windows PE image could not be created.")
      .click(1640)
      .expect_dialog(1322)
      .expect_text(1651,
                   "No Windows PE image was created.\n\nYou can still start Pellimor, the USB boot-media writer, "
                   "with an image of your own.")
      .expect_text(1005, "Cancel")
      .click(1005);
  auto run = Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_FALSE(fs::exists(Program("Tools/CD.iso")));
  EXPECT_EQ(MachineLog().find("started in"), std::string::npos);
}

struct LanguageCase {
  const char* language;
  const char* folder;
  const char* accept;
  const char* welcome;  // the Japanese text names the product and its version itself
  const char* final_text;
};

class EveryPage : public FennickPc, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(EveryPage, OpensWithItsTextsAndScreenshots) {
  const LanguageCase& c = GetParam();
  Serve("full", c.language == std::string("English") ? "KB3AIK_EN.iso" : "KB3AIK_JA.iso");
  Boot(c.language);
  const std::string shots = std::string(DRUM_BUILD_DIR) + "/screenshots/fennick/" + c.folder;
  fs::create_directories(shots);
  Script s;
  s.expect_dialog(741)
      .expect_text(1011, c.accept)
      .expect_text(1033, c.welcome)
      .screenshot("agreement.png")
      .click(1011)
      .screenshot("agreement-accepted.png")
      .click(1004)
      .expect_dialog(964)
      .screenshot("kit.png")
      .click(1009)
      .expect_enabled(1640)
      .screenshot("kit-installed.png")
      .click(1640)
      .expect_dialog(965)
      .screenshot("build.png")
      .click(1640)
      .expect_text(1652, c.final_text)
      .screenshot("build-done.png")
      .click(1640)
      .expect_dialog(1322)
      .screenshot("final.png")
      .click(1005);
  auto run = Run(s, shots);
  ASSERT_EQ(run.failure, "") << run.log;
  for (const char* png : {"agreement.png", "kit.png", "kit-installed.png", "build.png", "build-done.png", "final.png"})
    EXPECT_GT(fs::file_size(shots + "/" + png), 1000u) << png;
}

INSTANTIATE_TEST_SUITE_P(
    Languages, EveryPage,
    ::testing::Values(
        LanguageCase{"English", "en", "I &accept the terms of the license agreement",
                     "Fennick builds a Windows PE boot image with the Windows deployment kit. Please read the "
                     "agreement below before you go on.",
                     "The Windows PE image was created successfully."},
        LanguageCase{"Japanese", "ja", "使用許諾契約書に同意します(&A)",
                     "Fennick 1.0.0.1 は Windows 展開キットを使って Windows PE の起動イメージを作成します。"
                     "続行する前に、下の契約書をお読みください。",
                     "Windows PE イメージが正常に作成されました。"}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return std::string(info.param.folder); });

}  // namespace
