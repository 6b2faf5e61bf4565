#include "fixture_udf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "disk/fixture_images.h"
#include "platform/core/little_endian.h"
#include "tests/pebuilder/udf_stamp.h"

namespace udf_fixture {

namespace fs = std::filesystem;
using disk_fixture::Shell;

namespace {

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return platform::ReadLe16(&b[at]); }

}  // namespace

void MakeGenisoUdf(const std::vector<TreeFile>& files, const std::string& image) {
  std::string tree = image + ".tree";
  fs::remove_all(tree);
  fs::create_directories(tree);
  for (const TreeFile& f : files) {
    fs::path p = fs::path(tree) / f.path;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << f.content;
  }
  std::string out;
  ASSERT_EQ(Shell("genisoimage -quiet -udf -input-charset utf-8 -V KITTEST -o '" + image + "' '" + tree + "' 2>&1", &out), 0) << out;
}

void MakeEmptyUdf(const std::string& image, uint32_t blocks, const std::string& options) {
  fs::remove(image);
  std::string out;
  ASSERT_EQ(Shell("mkudffs --new-file -b 2048 --media-type=hd " + options + " '" + image + "' " +
                      std::to_string(blocks) + " 2>&1",
                  &out),
            0)
      << out;
}

void StampImplementation(const std::string& image, const std::string& identifier) {
  std::string error;
  ASSERT_TRUE(StampUdfImplementation(image, identifier, &error)) << error;
}

bool SevenZipExtract(const std::string& image, const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  std::string log;
  int status = Shell("7z x -y -tudf -o'" + out + "' '" + image + "' 2>&1", &log);
  EXPECT_EQ(status, 0) << log;
  return status == 0;
}

std::vector<uint8_t> ReadImage(const std::string& image) {
  std::ifstream in(image, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteImage(const std::string& image, const std::vector<uint8_t>& bytes) {
  std::ofstream(image, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {
// A field of the first partition descriptor of the main sequence.
uint32_t PartitionField(const std::vector<uint8_t>& b, size_t offset) {
  size_t anchor = 256 * 2048;
  uint32_t length = Get32(b, anchor + 16);
  uint32_t block = Get32(b, anchor + 20);
  for (uint32_t i = 0; i < length / 2048; ++i) {
    size_t at = (static_cast<size_t>(block) + i) * 2048;
    if (at + 2048 <= b.size() && Get16(b, at) == 5) return Get32(b, at + offset);
  }
  return 0;
}
}  // namespace

uint32_t PartitionStart(const std::vector<uint8_t>& b) { return PartitionField(b, 188); }
uint32_t PartitionLength(const std::vector<uint8_t>& b) { return PartitionField(b, 192); }

size_t FindIdentifier(const std::vector<uint8_t>& b, const std::string& name) {
  for (size_t at = 0; at + 40 + name.size() <= b.size(); at += 4) {
    if (Get16(b, at) != 257 || b[at + 19] != name.size() + 1) continue;
    size_t nameAt = at + 38 + Get16(b, at + 36);
    if (nameAt + 1 + name.size() <= b.size() && b[nameAt] == 8 &&
        std::memcmp(&b[nameAt + 1], name.data(), name.size()) == 0) {
      return at;
    }
  }
  return 0;
}

size_t EntryOf(const std::vector<uint8_t>& b, size_t fid) {
  return (static_cast<size_t>(PartitionStart(b)) + Get32(b, fid + 24)) * 2048;
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t value) { platform::WriteLe32(&b[at], value); }

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return platform::ReadLe32(&b[at]); }

}  // namespace udf_fixture
