// ISO images for the writer's tests, built by xorriso from a file tree made
// here, and the oracles that check what the writer made of them: xorriso's
// own extraction, mtools copies of FAT volumes, and a byte-exact comparison
// of two host trees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iso_fixture {

struct TreeFile {
  std::string path;     // "/SUB/FILE.TXT" (folders are made as needed)
  std::string content;
  std::string mtime{};  // for touch -d, e.g. "2020-02-03 04:05:06 UTC"; empty = now
};

enum class BootKind { None, NoEmulation, Diskette144 };

struct IsoSpec {
  std::vector<TreeFile> files;
  bool joliet = true;
  std::string volumeId = "TESTISO";
  BootKind boot = BootKind::None;
  std::string bootImage{};  // its bytes (no emulation: any size; diskette: padded to 1,474,560)
};

// Builds `iso` (host path) from the listed tree in a scratch folder beside it.
// Rock Ridge is off, so xorriso's extraction shows the names the ISO 9660 or
// Joliet tree gives, as the writer reads them.
void MakeIso(const IsoSpec& spec, const std::string& iso);

// `xorriso -osirrox on -extract / out` of the image; out is made fresh.
void XorrisoExtract(const std::string& iso, const std::string& out);

// `mcopy -s` of a FAT volume file's whole tree to out (made fresh).
void McopyTree(const std::string& volume, const std::string& out);

// Differences between two host trees: missing or extra names (compared
// exactly), sizes and bytes. Empty when they are equal.
std::string CompareTrees(const std::string& expected, const std::string& actual);

// A temp folder removed with the object.
struct TempFolder {
  TempFolder();
  ~TempFolder();
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// A 2,048-byte boot image whose strings from byte 405 on (where the Windows
// loaders keep their messages and file names) are a message and `name`.
std::string WindowsLikeBootImage(const std::string& name);

}  // namespace iso_fixture
