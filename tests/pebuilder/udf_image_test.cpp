// The UDF extractor against images made by genisoimage -udf and mkudffs and
// stamped with the kit image tool's identifier: the extracted tree must be
// byte-identical to 7z's extraction of the same image. Then the recogniser's
// edge cases, a foreign implementation, a second extraction, and hostile
// edits of a good image (names that climb out, a directory cycle, extended
// attributes past the block, extents past the partition, a cut image), each
// refused with nothing written outside the target folder.
#include "pebuilder/udf_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../usbwriter/fixture_iso.h"
#include "disk/fixture_images.h"
#include "fixture_udf.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace {

namespace fs = std::filesystem;
using disk_fixture::SimulatedPc;
using iso_fixture::CompareTrees;
using iso_fixture::TempFolder;
using udf_fixture::TreeFile;

constexpr char kKitTool[] = "*Microsoft CDIMAGE UDF";

class RecordingPage : public UdfExtractPage {
 public:
  void SetProgressRange(uint32_t upper) override { range = upper; }
  void SetProgressPosition(uint32_t position) override { position_ = position; }
  void ShowStatus(LPCWSTR key, const CString& path) override {
    statuses.push_back(platform::to_utf8(key) + platform::to_utf8(path.str()));
  }
  uint32_t range = 0;
  uint32_t position_ = 0;
  std::vector<std::string> statuses;
};

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// Images lie in I: (the scratch folder), extractions go below T:\ (the host
// folder out/), so the host sees exactly what the extractor wrote.
class UdfImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(out_);
    pc_.AppendIni("\n[mount images]\npath = I:\nhost = " + scratch_.path + "\ndrive_type = fixed\n" +
                  "\n[mount target]\npath = T:\nhost = " + out_ + "\ndrive_type = fixed\n");
    pc_.Boot();
  }

  std::string Image(const std::string& name) const { return scratch_.file(name); }

  HANDLE Open(const std::string& name) {
    HANDLE h = CreateFileW(platform::to_utf16("I:\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << name;
    return h;
  }

  bool Recognised(const std::string& name) {
    HANDLE h = Open(name);
    bool udf = IsUdfImage(h);
    CloseHandle(h);
    return udf;
  }

  UdfExtraction Extract(const std::string& name, const std::string& folder = "kit") {
    HANDLE h = Open(name);
    UdfExtraction result = TryExtractUdfImage(&page_, h, CString(platform::to_utf16("T:\\" + folder).c_str()));
    CloseHandle(h);
    return result;
  }

  // Everything the extractor wrote, as names below out/.
  std::vector<std::string> Written() const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(out_)) {
      // The host mount's own record of attributes and times.
      if (e.path().filename() != ".drumfs-meta") names.push_back(fs::relative(e.path(), out_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder scratch_;
  std::string out_ = scratch_.file("out");
  SimulatedPc pc_;
  RecordingPage page_;
};

const std::vector<TreeFile> kKitTree = {
    {"wAIKX86.msi", Pattern(5000, 1)},
    {"wAIKAMD64.msi", Pattern(3 * 1024 * 1024 + 17, 2)},  // more than one stream buffer
    {"empty.txt", ""},
    {"one.bin", "x"},
    {"block.bin", Pattern(2048, 3)},          // exactly one block
    {"blocks.bin", Pattern(3 * 2048, 4)},     // whole blocks only
    {"short.bin", Pattern(2047, 5)},
    {"Tools/x86/oscdimg.exe", Pattern(70000, 6)},
    {"Tools/x86/deep/er/still/file.dat", Pattern(4097, 7)},
    {"Tools/empty folder/.keep", ""},
    {"Docs/Read Me (English).txt", "read me\r\n"},
    {"Docs/\xe3\x82\xad\xe3\x83\x83\xe3\x83\x88.txt", "kit in Japanese"},  // stored with 16-bit characters
};

TEST_F(UdfImageTest, ExtractsGenisoimageTreeLikeSevenZip) {
  udf_fixture::MakeGenisoUdf(kKitTree, Image("kit.iso"));
  udf_fixture::StampImplementation(Image("kit.iso"), kKitTool);
  ASSERT_TRUE(udf_fixture::SevenZipExtract(Image("kit.iso"), scratch_.file("7z")));

  ASSERT_TRUE(Recognised("kit.iso"));
  uint32_t before = ExtractedBlockCount;
  UdfExtraction result = Extract("kit.iso");
  ASSERT_EQ(result.result, UdfResult::kOk) << result.detail;
  EXPECT_EQ(CompareTrees(scratch_.file("7z"), out_ + "/kit"), "");
  EXPECT_EQ(result.files, kKitTree.size());

  // Progress counts whole blocks written: the sum over the files.
  uint32_t whole = 0;
  for (const TreeFile& f : kKitTree) whole += static_cast<uint32_t>(f.content.size() / 2048);
  EXPECT_EQ(ExtractedBlockCount - before, whole);
  EXPECT_EQ(page_.position_, ExtractedBlockCount);
  EXPECT_EQ(page_.range, udf_fixture::PartitionLength(udf_fixture::ReadImage(Image("kit.iso"))))
      << "the range is the partition's length";
  EXPECT_NE(std::find(page_.statuses.begin(), page_.statuses.end(), "IDS_CREATEDIRT:\\kit\\Tools\\x86"),
            page_.statuses.end());
  EXPECT_NE(std::find(page_.statuses.begin(), page_.statuses.end(), "IDS_CREATEFILET:\\kit\\wAIKX86.msi"),
            page_.statuses.end());

  // A second run writes over the first; the counter goes on from where it was.
  uint32_t afterFirst = ExtractedBlockCount;
  ASSERT_EQ(Extract("kit.iso").result, UdfResult::kOk);
  EXPECT_EQ(ExtractedBlockCount - afterFirst, whole);
  EXPECT_EQ(CompareTrees(scratch_.file("7z"), out_ + "/kit"), "");
}

// Into a folder of a FAT32 volume of the simulated PC, which the host cannot
// copy into itself: the extraction moves the bytes through its own buffer
// and the tree comes out the same as 7z's (read back with mtools).
class UdfImageOntoFatTest : public UdfImageTest {
 protected:
  void SetUp() override {
    pc_.AddDisk(disk_fixture::DiskSpec{.number = 0, .sizeBytes = 96ull << 20});
    pc_.WriteMbr(0, {{.start = 2048, .count = 80 * 2048, .mbrType = 0x0C, .fs = "fat32", .label = "KIT"}});
    UdfImageTest::SetUp();
  }
};

TEST_F(UdfImageOntoFatTest, ExtractsThroughItsBufferWhereTheHostCannotCopy) {
  std::vector<TreeFile> tree;
  for (const TreeFile& f : kKitTree)
    if (f.path.find("\xe3") == std::string::npos) tree.push_back(f);  // names mtools writes back as they are
  udf_fixture::MakeGenisoUdf(tree, Image("kit.iso"));
  udf_fixture::StampImplementation(Image("kit.iso"), kKitTool);
  ASSERT_TRUE(udf_fixture::SevenZipExtract(Image("kit.iso"), scratch_.file("7z")));
  HANDLE h = Open("kit.iso");
  UdfExtraction result = TryExtractUdfImage(&page_, h, CString(u"C:\\kit"));
  CloseHandle(h);
  ASSERT_EQ(result.result, UdfResult::kOk) << result.detail;
  EXPECT_EQ(result.files, tree.size());
  platform::fs::ReleaseAllDrivers();
  const std::string volume = pc_.ExtractVolume(0, 2048, 80 * 2048, "kit-fat.img");
  std::string out;
  ASSERT_EQ(disk_fixture::Shell("fsck.fat -n " + volume, &out), 0) << out;
  ASSERT_EQ(disk_fixture::Shell("mkdir -p " + scratch_.file("fat") + " && mcopy -s -n -i " + volume + " ::/kit " + scratch_.file("fat"), &out), 0) << out;
  EXPECT_EQ(CompareTrees(scratch_.file("7z"), scratch_.file("fat/kit")), "");
}

TEST_F(UdfImageTest, EmptyMkudffsFileSystems) {
  struct Case {
    const char* options;
    bool nsr02;
  } cases[] = {
      {"--udfrev=1.02 --ad=inicb", true},  // the root directory's bytes inside its entry
      {"--udfrev=1.02 --ad=short", true},
      {"--udfrev=1.50 --ad=long", true},
      {"--udfrev=2.01", false},            // NSR03 only
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    std::string name = "empty" + std::to_string(n++) + ".udf";
    udf_fixture::MakeEmptyUdf(Image(name), 4096, c.options);
    EXPECT_EQ(Recognised(name), c.nsr02);
    if (!c.nsr02) continue;
    udf_fixture::StampImplementation(Image(name), kKitTool);
    ASSERT_TRUE(udf_fixture::SevenZipExtract(Image(name), scratch_.file("7z-" + name)));
    UdfExtraction result = Extract(name, name);
    ASSERT_EQ(result.result, UdfResult::kOk) << result.detail;
    EXPECT_EQ(CompareTrees(scratch_.file("7z-" + name), out_ + "/" + name), "");
  }
}

TEST_F(UdfImageTest, RecognitionSequenceEdges) {
  // Too short to hold block 16; a sequence that ends (byte 1 zero) before
  // any NSR02; a sequence of other descriptors that never ends.
  std::vector<uint8_t> bytes(32768 + 100, 0);
  udf_fixture::WriteImage(Image("short.img"), bytes);
  EXPECT_FALSE(Recognised("short.img"));
  bytes.assign(40 * 2048, 0);
  memcpy(&bytes[32768 + 1], "BEA01", 5);
  memcpy(&bytes[32768 + 2048 * 2 + 1], "NSR02", 5);  // behind the end of the sequence
  udf_fixture::WriteImage(Image("ended.img"), bytes);
  EXPECT_FALSE(Recognised("ended.img"));
  memcpy(&bytes[32768 + 2048 + 1], "TEA01", 5);
  udf_fixture::WriteImage(Image("found.img"), bytes);
  EXPECT_TRUE(Recognised("found.img"));
  bytes.assign(200 * 2048, 0);
  for (size_t at = 32768; at < bytes.size(); at += 2048) memcpy(&bytes[at + 1], "CD001", 5);
  udf_fixture::WriteImage(Image("endless.img"), bytes);
  EXPECT_FALSE(Recognised("endless.img"));
}

TEST_F(UdfImageTest, ForeignImplementationWritesNothing) {
  udf_fixture::MakeGenisoUdf(kKitTree, Image("plain.iso"));
  EXPECT_TRUE(Recognised("plain.iso"));
  EXPECT_EQ(Extract("plain.iso").result, UdfResult::kForeignImplementation);
  // Case counts, and the identifier is compared from its second character.
  udf_fixture::StampImplementation(Image("plain.iso"), "*microsoft CDIMAGE UDF");
  EXPECT_EQ(Extract("plain.iso").result, UdfResult::kForeignImplementation);
  udf_fixture::StampImplementation(Image("plain.iso"), "#Microsoft CDIMAGE UDF");
  EXPECT_EQ(Extract("plain.iso").result, UdfResult::kOk);
  std::vector<uint8_t> bytes = udf_fixture::ReadImage(Image("plain.iso"));
  bytes[256 * 2048] = 3;  // the anchor's tag
  udf_fixture::WriteImage(Image("plain.iso"), bytes);
  fs::remove_all(out_ + "/kit");
  EXPECT_EQ(Extract("plain.iso").result, UdfResult::kNoAnchor);
  EXPECT_TRUE(Written().empty());
}

TEST_F(UdfImageTest, HostileImagesAreRefused) {
  const std::vector<TreeFile> tree = {
      {"zz/inner.txt", "inside"}, {"a_b.txt", "sep"}, {"data.bin", Pattern(9000, 9)}, {"loop/x.txt", "x"}};
  udf_fixture::MakeGenisoUdf(tree, Image("base.iso"));
  udf_fixture::StampImplementation(Image("base.iso"), kKitTool);
  const std::vector<uint8_t> base = udf_fixture::ReadImage(Image("base.iso"));
  ASSERT_NE(udf_fixture::FindIdentifier(base, "zz"), 0u);

  using Edit = void (*)(std::vector<uint8_t>&);
  struct Case {
    const char* fault;
    Edit edit;
    UdfResult expected;
  } cases[] = {
      {"dotdot folder", [](std::vector<uint8_t>& b) {
         size_t fid = udf_fixture::FindIdentifier(b, "zz");
         b[fid + 38 + 1] = '.';
         b[fid + 38 + 2] = '.';
       }, UdfResult::kUnsafeName},
      {"separator in a name", [](std::vector<uint8_t>& b) {
         b[udf_fixture::FindIdentifier(b, "a_b.txt") + 38 + 2] = '\\';
       }, UdfResult::kUnsafeName},
      {"unknown name compression", [](std::vector<uint8_t>& b) {
         b[udf_fixture::FindIdentifier(b, "a_b.txt") + 38] = 9;
       }, UdfResult::kUnsafeName},
      {"directory cycle", [](std::vector<uint8_t>& b) {
         // loop's identifier points back at the root directory's entry,
         // which the root's parent identifier names.
         size_t fid = udf_fixture::FindIdentifier(b, "loop");
         size_t parent = fid;
         while (!(b[parent + 18] & 0x08)) parent -= 4;
         udf_fixture::Put32(b, fid + 24, udf_fixture::Get32(b, parent + 24));
       }, UdfResult::kDamaged},
      {"folder reached by a second path", [](std::vector<uint8_t>& b) {
         // loop's identifier names zz's entry: the same folder twice.
         udf_fixture::Put32(b, udf_fixture::FindIdentifier(b, "loop") + 24,
                            udf_fixture::Get32(b, udf_fixture::FindIdentifier(b, "zz") + 24));
       }, UdfResult::kDamaged},
      {"extent without recorded data", [](std::vector<uint8_t>& b) {
         // Type 1 (allocated, not recorded), its length raised to 1 GiB:
         // bytes the image does not hold.
         size_t fe = udf_fixture::EntryOf(b, udf_fixture::FindIdentifier(b, "data.bin"));
         size_t ad = fe + 176 + udf_fixture::Get32(b, fe + 168);
         udf_fixture::Put32(b, ad, 1u << 30 | 0x3FFFF800);
         udf_fixture::Put32(b, fe + 56, 0x3FFFF800);
       }, UdfResult::kDamaged},
      {"extended attributes past the block", [](std::vector<uint8_t>& b) {
         udf_fixture::Put32(b, udf_fixture::EntryOf(b, udf_fixture::FindIdentifier(b, "data.bin")) + 168, 0x7FFFFFF0);
       }, UdfResult::kDamaged},
      {"negative and huge size", [](std::vector<uint8_t>& b) {
         size_t fe = udf_fixture::EntryOf(b, udf_fixture::FindIdentifier(b, "data.bin"));
         udf_fixture::Put32(b, fe + 56, 0x80000000);
         udf_fixture::Put32(b, fe + 60, 0xFFFFFFFF);
       }, UdfResult::kDamaged},
      {"extent past the partition", [](std::vector<uint8_t>& b) {
         size_t fe = udf_fixture::EntryOf(b, udf_fixture::FindIdentifier(b, "data.bin"));
         size_t ad = fe + 176 + udf_fixture::Get32(b, fe + 168);
         udf_fixture::Put32(b, ad + 4, 0xFFFFFFF0);
       }, UdfResult::kDamaged},
      {"entry block past the partition", [](std::vector<uint8_t>& b) {
         udf_fixture::Put32(b, udf_fixture::FindIdentifier(b, "data.bin") + 24, 0x7FFFFFFF);
       }, UdfResult::kDamaged},
      {"image cut inside a file", [](std::vector<uint8_t>& b) {
         size_t fe = udf_fixture::EntryOf(b, udf_fixture::FindIdentifier(b, "data.bin"));
         size_t ad = fe + 176 + udf_fixture::Get32(b, fe + 168);
         size_t data = (udf_fixture::PartitionStart(b) + static_cast<size_t>(udf_fixture::Get32(b, ad + 4))) * 2048;
         b.resize(data + 4096);
       }, UdfResult::kReadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    std::vector<uint8_t> bytes = base;
    c.edit(bytes);
    udf_fixture::WriteImage(Image("hostile.iso"), bytes);
    fs::remove_all(out_);
    fs::create_directories(out_ + "/target");
    UdfExtraction result = Extract("hostile.iso", "target\\kit");
    EXPECT_EQ(result.result, c.expected) << result.detail;
    EXPECT_FALSE(result.detail.empty());
    for (const std::string& name : Written()) EXPECT_EQ(name.rfind("target", 0), 0u) << name;
  }
}

// Folders reachable by many paths: at each of 6 levels a second folder's
// identifier names the first one's entry, so that the tree holds 64
// paths to the last level in an image of a few hundred KiB. The extraction
// stops at the first folder reached again, with the image named damaged,
// after a bounded number of entries, all inside the target folder.
TEST_F(UdfImageTest, FoldersReachableByManyPathsStopTheExtraction) {
  constexpr int kLevels = 6;  // deeper trees are relocated by genisoimage
  std::vector<TreeFile> tree;
  std::string path;
  for (int k = 0; k < kLevels; ++k) {
    tree.push_back({path + "B" + std::to_string(k) + "/keep.txt", "b"});
    path += "A" + std::to_string(k) + "/";
  }
  tree.push_back({path + "leaf.txt", Pattern(3000, 4)});
  udf_fixture::MakeGenisoUdf(tree, Image("graph.iso"));
  udf_fixture::StampImplementation(Image("graph.iso"), kKitTool);
  std::vector<uint8_t> bytes = udf_fixture::ReadImage(Image("graph.iso"));
  for (int k = 0; k < kLevels; ++k) {
    const size_t a = udf_fixture::FindIdentifier(bytes, "A" + std::to_string(k));
    const size_t b = udf_fixture::FindIdentifier(bytes, "B" + std::to_string(k));
    ASSERT_TRUE(a && b) << k;
    udf_fixture::Put32(bytes, b + 24, udf_fixture::Get32(bytes, a + 24));
  }
  udf_fixture::WriteImage(Image("graph.iso"), bytes);
  fs::create_directories(out_ + "/target");
  UdfExtraction result = Extract("graph.iso", "target\\kit");
  EXPECT_EQ(result.result, UdfResult::kDamaged) << result.detail;
  EXPECT_TRUE(IsDamagedImageResult(result.result));
  EXPECT_NE(result.detail.find("reached a second time"), std::string::npos) << result.detail;
  const std::vector<std::string> written = Written();
  EXPECT_LE(written.size(), static_cast<size_t>(3 * kLevels + 4));
  for (const std::string& name : written) EXPECT_EQ(name.rfind("target", 0), 0u) << name;
}

TEST(DecodeUdfName, Table) {
  struct Case {
    std::vector<uint8_t> bytes;
    int count;
    std::u16string text;
  } cases[] = {
      {{8, 'a', 'b', 'c'}, 3, u"abc"},
      {{16, 0x30, 0xAD, 0x00, 'x'}, 2, u"\u30ADx"},
      {{16, 0x30, 0xAD, 0x12}, 2, u"\u30AD\u1200"},  // odd length: the last high byte alone
      {{8}, 0, u""},
      {{9, 'a'}, -1, u"untouched"},
  };
  for (const Case& c : cases) {
    char16_t out[260] = u"untouched";
    EXPECT_EQ(DecodeUdfName(static_cast<int>(c.bytes.size()), c.bytes.data(), out), c.count);
    if (c.count >= 0) out[c.count] = 0;
    EXPECT_EQ(std::u16string(out), c.text);
  }
}

TEST(IsSafeUdfName, Table) {
  for (const char16_t* bad : {u"", u".", u"..", u"a\\b", u"a/b", u"c:x", u"a\nb", u"a*b", u"q?"}) {
    EXPECT_FALSE(IsSafeUdfName(bad)) << platform::to_utf8(bad);
  }
  for (const char16_t* good : {u"...", u".keep", u"wAIKX86.msi", u"Read Me (1).txt", u"\u30AD\u30C3\u30C8"}) {
    EXPECT_TRUE(IsSafeUdfName(good)) << platform::to_utf8(good);
  }
}

}  // namespace
