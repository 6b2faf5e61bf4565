// Seeded random round trips: a few hundred creates, writes, truncations,
// renames and removals through the driver, mirrored in a simple model; then
// fsck.fat must find the volume clean and mtools must list and read exactly
// the model. Each step is logged so a failure names the operation.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "fat_fixture.h"
#include "platform/core/error.h"
#include "platform/core/text.h"

using namespace fat_test;
using platform::fs::VolumePath;

namespace {

struct Params {
  int fat_bits;
  uint32_t sector;
  uint64_t kib;
  uint32_t seed;
};

// Name stems that exercise the long-name layout: 12, 13, 14 and 26 units (the
// 13-unit piece boundary), 8.3 names in lower case, characters only long names
// may hold (no brackets: mtools reads them as a wildcard class), non-ASCII text, and a stem padded to the 255-unit maximum.
std::u16string stem(std::mt19937& rng) {
  static const std::u16string kStems[] = {u"abcdefghijkl", u"abcdefghijklm", u"abcdefghijklmn",
                                          u"ABCDEFGHIJKLMNOPQRSTUVWXYZ", u"lower", u"Mixed Case Name",
                                          u"a+b,c;d=e", u"Ünïcödé ☃", u".hidden start", u"x"};
  size_t pick = rng() % 11;
  if (pick == 10) return std::u16string(240, u'L');
  return kStems[pick];
}

std::string key(const VolumePath& p) {
  std::string s;
  for (auto& c : p) s += "/" + U8(c);
  return s;
}

class FatRoundTrip : public testing::TestWithParam<Params> {};

TEST_P(FatRoundTrip, RandomOperationsMatchTheModel) {
  const Params& param = GetParam();
  FatImage image(param.fat_bits, param.sector, param.kib);
  ASSERT_TRUE(image.ok());
  auto v = image.mount();
  ASSERT_TRUE(v);
  platform::fs::VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  const size_t cb = vi.bytes_per_cluster;

  std::mt19937 rng(param.seed);
  std::map<std::string, std::pair<VolumePath, std::vector<uint8_t>>> files;
  std::map<std::string, VolumePath> folders = {{"", {}}};
  int counter = 0;
  std::ostringstream log;
  auto pick_folder = [&]() {
    auto it = folders.begin();
    std::advance(it, rng() % folders.size());
    return it->second;
  };
  auto pick_file = [&]() {
    auto it = files.begin();
    std::advance(it, rng() % files.size());
    return it->first;
  };
  auto new_name = [&](bool with_ext) {
    std::u16string n = stem(rng) + platform::to_utf16(std::to_string(++counter));
    if (with_ext) n += (rng() % 2) ? u".txt" : u".Data";
    return n;
  };

  for (int step = 0; step < 250; ++step) {
    unsigned op = rng() % 10;
    if (op == 0 || folders.size() < 2) {
      VolumePath p = pick_folder();
      p.push_back(new_name(false));
      log << step << " mkdir " << key(p) << "\n";
      ASSERT_EQ(v->create_folder(p), 0u) << log.str();
      folders[key(p)] = p;
    } else if (op <= 3 || files.empty()) {
      VolumePath p = pick_folder();
      p.push_back(new_name(true));
      std::vector<uint8_t> data = Pattern(rng() % (3 * cb + 100), uint32_t(step));
      log << step << " create " << key(p) << " " << data.size() << "\n";
      ASSERT_EQ(WriteFile(*v, p, data, 1 + rng() % 5000), 0u) << log.str();
      files[key(p)] = {p, data};
    } else if (op <= 5) {
      auto& [p, data] = files[pick_file()];
      size_t at = rng() % (data.size() + cb);
      std::vector<uint8_t> piece = Pattern(1 + rng() % (2 * cb), uint32_t(step + 1000));
      log << step << " write " << key(p) << " at " << at << " " << piece.size() << "\n";
      std::unique_ptr<platform::fs::OpenFile> f;
      ASSERT_EQ(v->open(p, true, &f), 0u) << log.str();
      ASSERT_EQ(f->write(at, piece.data(), piece.size()), 0u) << log.str();
      if (data.size() < at + piece.size()) data.resize(at + piece.size(), 0);
      std::copy(piece.begin(), piece.end(), data.begin() + at);
    } else if (op == 6) {
      auto& [p, data] = files[pick_file()];
      size_t size = rng() % (data.size() + 2 * cb);
      log << step << " truncate " << key(p) << " " << size << "\n";
      std::unique_ptr<platform::fs::OpenFile> f;
      ASSERT_EQ(v->open(p, true, &f), 0u) << log.str();
      ASSERT_EQ(f->set_size(size), 0u) << log.str();
      data.resize(size, 0);
    } else if (op == 7) {
      std::string k = pick_file();
      auto entry = files[k];
      VolumePath to = pick_folder();
      to.push_back(new_name(true));
      log << step << " rename " << k << " -> " << key(to) << "\n";
      ASSERT_EQ(v->rename(entry.first, to), 0u) << log.str();
      files.erase(k);
      files[key(to)] = {to, entry.second};
    } else if (op == 8) {
      std::string k = pick_file();
      log << step << " remove " << k << "\n";
      ASSERT_EQ(v->remove(files[k].first), 0u) << log.str();
      files.erase(k);
    } else {
      // Remove a folder when it is empty; otherwise the driver must refuse.
      auto it = folders.begin();
      std::advance(it, 1 + rng() % (folders.size() - 1));
      bool empty = true;
      for (auto& [k, f] : files)
        if (k.rfind(it->first + "/", 0) == 0) empty = false;
      for (auto& [k, f] : folders)
        if (k.rfind(it->first + "/", 0) == 0) empty = false;
      log << step << " rmdir " << it->first << (empty ? "" : " (not empty)") << "\n";
      ASSERT_EQ(v->remove(it->second), empty ? 0u : uint32_t(ERROR_DIR_NOT_EMPTY)) << log.str();
      if (empty) folders.erase(it);
    }
  }
  ASSERT_EQ(v->flush(), 0u);
  CommandResult r = image.fsck();
  ASSERT_EQ(r.status, 0) << r.output << log.str();

  // mtools lists exactly the model.
  std::set<std::string> want;
  for (auto& [k, f] : folders)
    if (!k.empty()) want.insert("::" + k + "/");
  for (auto& [k, f] : files) want.insert("::" + k);
  r = Shell("mdir -/ -b -a " + image.mtools_image() + " ::");
  std::set<std::string> got;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) got.insert(line);
  EXPECT_EQ(got, want) << log.str();
  // The same mount reports the model's sizes and contents.
  for (auto& [k, f] : files) {
    platform::fs::FileInfo info;
    ASSERT_EQ(v->stat(f.first, &info), 0u) << k;
    EXPECT_EQ(info.size, f.second.size()) << k;
    std::vector<uint8_t> ours;
    ASSERT_EQ(ReadFile(*v, f.first, &ours), 0u) << k;
    EXPECT_TRUE(ours == f.second) << k;
  }
  // mtools and a fresh mount read the model's bytes.
  v.reset();
  v = image.mount();
  ASSERT_TRUE(v);
  for (auto& [k, f] : files) {
    r = image.mtools_read(k);
    EXPECT_TRUE(Bytes(r.output) == f.second) << k << "\n" << log.str();
    std::vector<uint8_t> ours;
    ASSERT_EQ(ReadFile(*v, f.first, &ours), 0u) << k;
    EXPECT_TRUE(ours == f.second) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, FatRoundTrip,
                         testing::Values(Params{12, 512, 4096, 1}, Params{16, 4096, 65536, 2},
                                         Params{32, 512, 65536, 3}, Params{32, 4096, 307200, 4}),
                         [](const testing::TestParamInfo<Params>& i) {
                           return "FAT" + std::to_string(i.param.fat_bits) + "_" + std::to_string(i.param.sector) +
                                  "_seed" + std::to_string(i.param.seed);
                         });

}  // namespace
