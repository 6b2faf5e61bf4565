#include "fixture_iso.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "disk/fixture_images.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace iso_fixture {

namespace fs = std::filesystem;
using test_support::Quote;
using test_support::Shell;

namespace {

void WriteHostFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, fs::path> Listing(const std::string& root) {
  std::map<std::string, fs::path> entries;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    entries[fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : "")] = entry.path();
  }
  return entries;
}

}  // namespace

TempFolder::TempFolder() {
  path = test_support::MakeTempFolder("usbwriter-test");
}
TempFolder::~TempFolder() {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  Shell("chmod -R u+rwX " + Quote(path) + " && rm -rf " + Quote(path));
}

void MakeIso(const IsoSpec& spec, const std::string& iso) {
  std::string tree = iso + ".tree";
  fs::remove_all(tree);
  fs::create_directories(tree);
  for (const TreeFile& f : spec.files) {
    WriteHostFile(tree + f.path, f.content);
    if (!f.mtime.empty()) Shell("touch -d " + Quote(f.mtime) + " " + Quote(tree + f.path));
  }
  std::string command = "TZ=UTC xorriso -outdev " + Quote(iso) + " -blank as_needed -rockridge off -joliet " +
                        (spec.joliet ? "on" : "off") + " -volid " + Quote(spec.volumeId) + " -map " +
                        Quote(tree) + " /";
  if (spec.boot != BootKind::None) {
    std::string image = spec.bootImage;
    std::string emulation = "no_emulation";
    if (spec.boot == BootKind::Diskette144) {
      image.resize(1474560, '\0');
      emulation = "diskette";
    }
    std::string bootFile = iso + ".boot";
    WriteHostFile(bootFile, image);
    command += " -map " + Quote(bootFile) + " /BOOT.IMG -boot_image any bin_path=/BOOT.IMG"
               " -boot_image any emul_type=" + emulation;
  }
  command += " -commit";
  std::string out;
  ASSERT_EQ(Shell(command + " 2>&1", &out), 0) << command << "\n" << out;
}

void XorrisoExtract(const std::string& iso, const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  std::string text;
  ASSERT_EQ(Shell("xorriso -osirrox on -indev " + Quote(iso) + " -extract / " + Quote(out) + " 2>&1", &text), 0)
      << text;
  // xorriso keeps the image's read-only permissions; the comparison only reads.
  Shell("chmod -R u+rwX " + Quote(out));
}

void McopyTree(const std::string& volume, const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  std::string text;
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -s -n -m -i " + Quote(volume) + " '::*' " + Quote(out) + " 2>&1", &text),
            0)
      << text;
  Shell("chmod -R u+rwX " + Quote(out));
}

std::string CompareTrees(const std::string& expected, const std::string& actual) {
  std::ostringstream differences;
  auto want = Listing(expected);
  auto have = Listing(actual);
  for (auto& [name, path] : want) {
    auto it = have.find(name);
    if (it == have.end()) {
      differences << "missing " << name << "\n";
      continue;
    }
    if (name.back() == '/') continue;
    if (fs::file_size(path) != fs::file_size(it->second)) {
      differences << "size of " << name << ": " << fs::file_size(it->second) << " instead of " << fs::file_size(path)
                  << "\n";
    } else if (ReadHostFile(path.string()) != ReadHostFile(it->second.string())) {
      differences << "bytes of " << name << " differ\n";
    }
  }
  for (auto& [name, path] : have) {
    if (!want.count(name)) differences << "extra " << name << "\n";
  }
  return differences.str();
}

std::string WindowsLikeBootImage(const std::string& name) {
  std::string image(2048, '\0');
  image[0] = static_cast<char>(0xEB);
  std::string strings = std::string("Loader error") + '\0' + name;
  image.replace(405, strings.size(), strings);
  image[510] = 0x55;
  image[511] = static_cast<char>(0xAA);
  return image;
}

}  // namespace iso_fixture
