// Pellimor's branding record and start-up values: the record the build tool
// writes (bytes checked by hand against the masks), texts bounded by their
// fields, and LoadBrandingConfig on a simulated PC whose
// program folder holds the record and the BIOS blob: a missing record and a
// required blob that is missing or too long end the program with their
// messages, as does a record cut short; a blob of the largest size loads
// byte for byte.
#include "usbwriter/branding_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "usbwriter/branding/branding_record.h"
#include "usbwriter/iso/iso_reader.h"

namespace {

std::string ToolPath() { return std::string(DRUM_BUILD_DIR) + "/tools/settings_record/settings_record"; }

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

TEST(BrandingRecord, ToolWritesTheScrambledRecord) {
  iso_fixture::TempFolder dir;
  std::string out = dir.file("inf.dll");
  std::string log;
  ASSERT_EQ(disk_fixture::Shell(ToolPath() + " " + out +
                                    " --branding --language Japanese --company 'Corvel\\nware' --product Pellimor"
                                    " --image winpe.iso --flags 3 2>&1",
                                &log),
            0)
      << log;
  std::vector<uint8_t> bytes = ReadAll(out);
  ASSERT_EQ(bytes.size(), kBrandingRecordSize);
  // 'C' (0x0043): swapped 0x4300, XOR 0x5E19 = 0x1D19; 'o' (0x006F): 0x6F00 XOR 0xC3A7 = 0xACA7.
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), std::vector<uint8_t>({0x19, 0x1D, 0xA7, 0xAC}));
  // Zero pairs are scrambled too: the last pair is the two masks.
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), std::vector<uint8_t>({0x19, 0x5E, 0xA7, 0xC3}));
  BrandingFields fields = DecodeBrandingRecord(bytes);
  EXPECT_EQ(fields.company, u"Corvel\\nware");
  EXPECT_EQ(fields.product, u"Pellimor");
  EXPECT_EQ(fields.language, u"Japanese");
  EXPECT_EQ(fields.imageName, u"winpe.iso");
  EXPECT_EQ(fields.flags, 3u);
  EXPECT_NE(disk_fixture::Shell(ToolPath() + " " + out + " --branding --language English --image " +
                                std::string(64, 'x') + " 2>/dev/null"),
            0)
      << "an image name without room for its terminator";
}

TEST(BrandingRecord, TextsStayInsideTheirFields) {
  std::vector<uint8_t> plain(kBrandingRecordSize, 0);
  // A product that fills its whole field, then a language.
  for (size_t i = 0; i < kBrandTextSize; i += 2) plain[kBrandProductOffset + i] = 'P';
  plain[kBrandLanguageOffset] = 'E';
  std::vector<uint8_t> scrambled = plain;
  // Scramble the hand-made plain record by the rule and decode it.
  for (size_t i = 0; i + 3 < scrambled.size(); i += 4) {
    uint16_t a = scrambled[i] | scrambled[i + 1] << 8, b = scrambled[i + 2] | scrambled[i + 3] << 8;
    a = static_cast<uint16_t>(((a << 8) | (a >> 8)) ^ 0x5E19);
    b = static_cast<uint16_t>(((b << 8) | (b >> 8)) ^ 0xC3A7);
    scrambled[i] = a & 0xFF, scrambled[i + 1] = a >> 8, scrambled[i + 2] = b & 0xFF, scrambled[i + 3] = b >> 8;
  }
  BrandingFields decoded = DecodeBrandingRecord(scrambled);
  EXPECT_EQ(decoded.product, std::u16string(128, u'P')) << "the product ran into the language";
  EXPECT_EQ(decoded.language, u"E");
}

// A simulated PC whose program folder C:\Program Files\Pellimor is a host folder.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_.file("Resources"));
    pc_.AddDisk(disk_fixture::DiskSpec{});
    pc_.AppendIni("\n[mount program]\npath = P:\nhost = " + folder_.path + "\ndrive_type = fixed\n");
    ProgramFolder = u"P:";
  }
  void WriteRecord(uint32_t flags) {
    ASSERT_EQ(disk_fixture::Shell(ToolPath() + " " + folder_.file("Resources/inf.dll") +
                                  " --branding --language English --company 'Two\\nLines' --product Pellimor"
                                  " --image default.iso --flags " + std::to_string(flags)),
              0);
  }
  disk_fixture::HeadlessRun Load(const platform::ui::Script& script) {
    pc_.Boot();
    return disk_fixture::RunHeadless(script, [] { LoadBrandingConfig(); });
  }
  iso_fixture::TempFolder folder_;
  disk_fixture::SimulatedPc pc_;
};

TEST_F(StartupTest, MissingRecordEndsTheProgramWithItsMessage) {
  platform::ui::Script script;
  script.answer("ok");
  auto run = Load(script);
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.log.find("\"Corvelware Pellimor\": \"INF.Dll File not found. Aborting...\""), std::string::npos)
      << run.log;
}

TEST_F(StartupTest, ShortRecordEndsTheProgramWithItsMessage) {
  WriteRecord(1);
  std::filesystem::resize_file(folder_.file("Resources/inf.dll"), 17379);
  platform::ui::Script script;
  script.answer("ok");
  auto run = Load(script);
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.log.find("\"Corvelware Pellimor\": \"INF.Dll File is incomplete. Aborting...\""), std::string::npos)
      << run.log;
}

TEST_F(StartupTest, RecordFillsTheValuesAndTheLargestBlobLoads) {
  WriteRecord(3);
  std::string blob = disk_fixture::Pattern(65535, 4);
  blob.replace(0, 5, "\r\n\x1A\r\n");
  std::ofstream(folder_.file("Resources/boot.mcd"), std::ios::binary) << blob;
  auto run = Load(platform::ui::Script());
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_FALSE(run.exited);
  EXPECT_EQ(BrandCompany.str(), u"Two\nLines");
  EXPECT_EQ(BrandProduct.str(), u"Pellimor");
  EXPECT_EQ(BrandLanguage.str(), u"English");
  EXPECT_EQ(SourceIsoPath.str(), u"P:\\Resources\\default.iso");
  EXPECT_TRUE(WriteBootLoader);
  EXPECT_TRUE(NeedBiosBlob);
  ASSERT_EQ(BiosBlobLength, 65535u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(BiosBlob), 65535), blob);
  EXPECT_EQ(BiosBlob[65535], 0);
}

TEST_F(StartupTest, RequiredBlobMissingOrTooLongEndsTheProgram) {
  WriteRecord(2);
  // No blob: the picker opens; cancelling it ends the program.
  platform::ui::Script cancel;
  cancel.answer("cancel").answer("ok");
  auto run = Load(cancel);
  EXPECT_TRUE(run.exited) << run.log;
  EXPECT_NE(run.log.find("Illegal BIOS File"), std::string::npos) << run.log;
  EXPECT_FALSE(WriteBootLoader);

  std::ofstream(folder_.file("Resources/big.mcd"), std::ios::binary) << std::string(65536, 'B');
  platform::ui::Script ok;
  ok.answer("ok");
  run = Load(ok);
  EXPECT_TRUE(run.exited) << run.log;
  EXPECT_NE(run.log.find("Illegal BIOS File"), std::string::npos) << run.log;
}

}  // namespace
