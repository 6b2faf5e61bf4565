// The language table: the two-pass loader over UTF-16LE files with CR LF on a
// simulated PC's program folder, the lookup rules, and the project's own
// English and Japanese files, which must hold every key the disk layer uses
// and, for every program, define each key once across all their fragments.
#include "program_support/language_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The language file as the programs read it: the UTF-8 source with each line
// ended by CR LF, as UTF-16LE without a byte-order mark (what the build makes).
std::u16string InstalledForm(const std::string& utf8_source) {
  std::u16string out;
  std::istringstream lines(utf8_source);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out += platform::to_utf16(line) + u"\r\n";
  }
  return out;
}

// A simulated PC whose drive P: is a host folder holding the program folder
// P:\Prog with its Resources subfolder.
class LanguageTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = pc_.folder() + "/progdrive";
    fs::create_directories(host_ + "/Prog/Resources");
    std::ofstream(pc_.folder() + "/machine.ini", std::ios::app)
        << "\n[mount prog]\npath = P:\nhost = " << host_ << "\ndrive_type = fixed\n";
    pc_.Boot();
    // Host-folder drivers outlive a machine change; let go of the last test's.
    platform::fs::ReleaseAllDrivers();
    ShellState.programFolder = u"P:\\Prog";
    ShellState.languageName = u"English";
    LanguageTable = LanguageTableRecord{};
    dateFormat = u"unchanged";
  }
  void TearDown() override {
    LanguageTable = LanguageTableRecord{};
    ShellState = ShellStateRecord{};
  }

  void WriteLanguageFile(const char* name, const std::string& bytes) {
    std::ofstream(host_ + "/Prog/Resources/" + name, std::ios::binary | std::ios::trunc) << bytes;
  }

  disk_fixture::SimulatedPc pc_;
  std::string host_;
};

TEST_F(LanguageTableTest, LinesSplitAtTheFirstColonWithTheLineEndCutOff) {
  const std::u16string file =
      u"IDS_Product: Drum Networks\r\n"        // 0: leading blank of the text removed
      u"  IDS_Padded  :  two blanks after  \r\n"  // 1: key trimmed both ends, text keeps trailing blanks
      u"IDS_Break:one\\ntwo\r\n"               // 2: backslash-n becomes blank + line feed
      u":IDS_StartsWithColon\r\n"              // 3: no entry
      u"IDS_NoColonHere\r\n"                   // 4: no entry
      u"IDS_Twice:first\r\n"                   // 5
      u"IDS_Twice:second\r\n"                  // 6: the first line wins
      u"IDS_Time:12:30\r\n"                    // 7: only the first colon splits
      u"IDS_Empty:\r\n"                        // 8: empty text
      u"END\r\n"                               // 9: no entry
      u"IDS_Last:abcdef";                      // 10: no CR LF: loses "ef"
  WriteLanguageFile("001.dll", Utf16Bytes(file));
  ASSERT_TRUE(LoadLanguageStrings());
  EXPECT_EQ(dateFormat, u"%m/%d/%Y");
  EXPECT_EQ(LanguageTable.languageLineCount, 11);
  ASSERT_EQ(LanguageTable.strings.size(), 22u);

  struct Case {
    const char16_t* key;
    const char16_t* text;
  } cases[] = {
      {u"IDS_Product", u"Drum Networks"},
      {u"IDS_Padded", u"two blanks after  "},
      {u"IDS_Break", u"one \ntwo"},
      {u"IDS_Twice", u"first"},
      {u"IDS_Time", u"12:30"},
      {u"IDS_Empty", u""},
      {u"IDS_Last", u"abcd"},
      // Missing keys, and keys differing only in case, come back as the key.
      {u"IDS_Missing", u"IDS_Missing"},
      {u"ids_product", u"ids_product"},
      {u"IDS_StartsWithColon", u"IDS_StartsWithColon"},
      {u"END", u"END"},
  };
  for (const auto& c : cases) EXPECT_EQ(LookupString(c.key), c.text) << platform::to_utf8(c.key);

  // Lines that are no entry still hold their (empty) pair of slots.
  for (int line : {3, 4, 9}) {
    EXPECT_TRUE(LanguageTable.strings[2 * line].IsEmpty()) << line;
    EXPECT_TRUE(LanguageTable.strings[2 * line + 1].IsEmpty()) << line;
  }
  EXPECT_EQ(LanguageTable.strings[2 * 6], u"IDS_Twice");
  EXPECT_EQ(LanguageTable.strings[2 * 6 + 1], u"second");
}

TEST_F(LanguageTableTest, LongLinesComeInPiecesOf511Units) {
  std::u16string long_line = u"IDS_Long:" + std::u16string(600, u'x') + u"\r\n";
  WriteLanguageFile("001.dll", Utf16Bytes(long_line + u"IDS_After:ok\r\n"));
  ASSERT_TRUE(LoadLanguageStrings());
  // 611 units: a piece of 511 (the key and 502 x's), then 100 units without a colon.
  EXPECT_EQ(LanguageTable.languageLineCount, 3);
  EXPECT_EQ(LookupString(u"IDS_Long"), CString(std::u16string(500, u'x')));
  EXPECT_EQ(LookupString(u"IDS_After"), u"ok");
}

TEST_F(LanguageTableTest, RawUnitsWithoutByteOrderHandling) {
  // A byte-order mark becomes part of the first key; a stray odd byte at the end is no unit.
  WriteLanguageFile("001.dll", Utf16Bytes(u"\uFEFFIDS_First:a1\r\nIDS_Second:b2\r\n") + "\x41");
  ASSERT_TRUE(LoadLanguageStrings());
  EXPECT_EQ(LanguageTable.languageLineCount, 2);
  EXPECT_EQ(LookupString(u"IDS_First"), u"IDS_First");
  EXPECT_EQ(LookupString(u"\uFEFFIDS_First"), u"a1");
  EXPECT_EQ(LookupString(u"IDS_Second"), u"b2");
  // A zero unit ends the line's text where it stands.
  WriteLanguageFile("001.dll", Utf16Bytes(std::u16string(u"IDS_Z:ab\0cd\r\nIDS_Y:ok\r\n", 23)));
  ASSERT_TRUE(LoadLanguageStrings());
  EXPECT_EQ(LanguageTable.languageLineCount, 2);
  EXPECT_EQ(LookupString(u"IDS_Y"), u"ok");
  EXPECT_EQ(LookupString(u"IDS_Z"), u"");  // "ab" loses its last two characters
}

TEST_F(LanguageTableTest, LanguageNameChoosesFileAndDateFormat) {
  WriteLanguageFile("001.dll", Utf16Bytes(u"IDS_Which:English\r\n"));
  WriteLanguageFile("081.dll", Utf16Bytes(u"IDS_Which:\u65E5\u672C\u8A9E\r\n"));
  struct Case {
    const char16_t* language;
    bool loads;
    const char16_t* which;
    const char16_t* date;
  } cases[] = {
      {u"English", true, u"English", u"%m/%d/%Y"},
      {u"Japanese", true, u"\u65E5\u672C\u8A9E", u"%Y/%m/%d"},
      {u"english", false, u"IDS_Which", u"unchanged"},
      {u"German", false, u"IDS_Which", u"unchanged"},
      {u"", false, u"IDS_Which", u"unchanged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.language));
    LanguageTable = LanguageTableRecord{};
    dateFormat = u"unchanged";
    ShellState.languageName = c.language;
    EXPECT_EQ(LoadLanguageStrings(), c.loads);
    EXPECT_EQ(LookupString(u"IDS_Which"), c.which);
    EXPECT_EQ(dateFormat, c.date);
  }
}

TEST_F(LanguageTableTest, HugeFilesAreCutAtTheLineLimit) {
  std::u16string filler;
  for (int i = 0; i < 100000; ++i) filler += u"\r\n";
  WriteLanguageFile("001.dll", Utf16Bytes(u"IDS_Early:early\r\n" + filler + u"IDS_Late:late\r\n"));
  ASSERT_TRUE(LoadLanguageStrings());
  EXPECT_EQ(LanguageTable.languageLineCount, 100000);
  EXPECT_EQ(LanguageTable.strings.size(), 200000u);
  EXPECT_EQ(LookupString(u"IDS_Early"), u"early");
  EXPECT_EQ(LookupString(u"IDS_Late"), u"IDS_Late");
}

TEST_F(LanguageTableTest, MissingFileLoadsNothing) {
  WriteLanguageFile("001.dll", Utf16Bytes(u"IDS_Old:old\r\n"));
  ASSERT_TRUE(LoadLanguageStrings());
  fs::remove(host_ + "/Prog/Resources/001.dll");
  EXPECT_FALSE(LoadLanguageStrings());
  EXPECT_EQ(LookupString(u"IDS_Old"), u"IDS_Old");
  ShellState.programFolder = u"Q:\\Nowhere";
  EXPECT_FALSE(LoadLanguageStrings());
}

// The keys the disk layer and the shared program helpers look up: every
// u"IDS_..." literal in disk/ and program_support/.
std::set<std::string> KeysUsedInDiskCode(const fs::path& source) {
  std::set<std::string> keys;
  const std::regex literal("u\"(IDS?_[A-Za-z0-9_]+)\"");
  for (const char* folder : {"disk", "program_support"}) {
    for (const auto& entry : fs::directory_iterator(source / folder)) {
      const auto ext = entry.path().extension();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string text = ReadHostFile(entry.path());
      for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it) keys.insert((*it)[1]);
    }
  }
  return keys;
}

TEST_F(LanguageTableTest, ProjectLanguageFilesHoldEveryKeyOfTheDiskLayer) {
  const char* root = std::getenv("DRUM_SOURCE_DIR");
  ASSERT_NE(root, nullptr);
  const fs::path source(root);
  const std::set<std::string> used = KeysUsedInDiskCode(source);
  ASSERT_TRUE(used.count("IDS_regerror")) << "the scan of disk/ and program_support/ found nothing";

  struct Language {
    const char16_t* name;
    const char* file;
  } languages[] = {{u"English", "001"}, {u"Japanese", "081"}};
  std::set<std::string> key_sets[2];
  for (int i = 0; i < 2; ++i) {
    const auto& language = languages[i];
    SCOPED_TRACE(language.file);
    const std::string utf8 = ReadHostFile(source / "resources/lang" / (std::string(language.file) + ".txt"));
    ASSERT_FALSE(utf8.empty());
    ASSERT_NE(utf8.substr(0, 3), "\xEF\xBB\xBF") << "a byte-order mark would become part of the first key";
    WriteLanguageFile((std::string(language.file) + ".dll").c_str(), Utf16Bytes(InstalledForm(utf8)));
    LanguageTable = LanguageTableRecord{};
    ShellState.languageName = language.name;
    ASSERT_TRUE(LoadLanguageStrings());

    // Each entry once, no line split by the 511-unit reader.
    std::istringstream lines(utf8);
    std::string line;
    while (std::getline(lines, line)) {
      EXPECT_LT(platform::to_utf16(line).size(), 509u) << line;
      const auto colon = line.find(':');
      if (colon == std::string::npos || colon == 0) continue;
      const std::string key = line.substr(0, colon);
      EXPECT_TRUE(key_sets[i].insert(key).second) << "duplicate key " << key;
    }
    for (const std::string& key : used) {
      const std::u16string wide = platform::to_utf16(key);
      const CString text = LookupString(wide.c_str());
      EXPECT_NE(text, CString(wide)) << key << " is missing";
      EXPECT_FALSE(text.IsEmpty()) << key << " is empty";
      if (i == 1 && key != "IDS_Product") {
        bool has_japanese = false;
        for (char16_t unit : text.str()) has_japanese |= unit >= 0x3000;
        EXPECT_TRUE(has_japanese) << key << " is not translated";
      }
    }
  }
  EXPECT_EQ(key_sets[0], key_sets[1]) << "the two languages name different keys";
  ShellState.languageName = u"English";
  LanguageTable = LanguageTableRecord{};
  ASSERT_TRUE(LoadLanguageStrings());
  EXPECT_EQ(LookupString(u"IDS_Product"), u"Drummetworks");
}

// Every program's language fragments: the files NNN.txt and AREA.NNN.txt of
// each folder named "lang" below `root`, by folder and language code. The
// build joins each such group into one language file.
using LanguageGroups = std::map<std::pair<fs::path, std::string>, std::vector<fs::path>>;
LanguageGroups FindLanguageGroups(const fs::path& root) {
  LanguageGroups groups;
  const std::regex name("(?:[A-Za-z0-9_-]+\\.)?([0-9]{3})\\.txt");
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string leaf = it->path().filename().string();
    if (it->is_directory() && (leaf == "build" || leaf.starts_with("."))) {
      it.disable_recursion_pending();
      continue;
    }
    std::smatch m;
    if (!it->is_regular_file() || it->path().parent_path().filename() != "lang" ||
        !std::regex_match(leaf, m, name))
      continue;
    groups[{it->path().parent_path(), m[1]}].push_back(it->path());
  }
  for (auto& [where, files] : groups) std::sort(files.begin(), files.end());
  return groups;
}

// The keys of one group, each with where it is defined ("file:line"); a key
// the loader would see twice (it keeps only one text) is named in `repeats`
// with both places.
std::map<std::string, std::string> GroupKeys(const std::vector<fs::path>& files, std::vector<std::string>& repeats) {
  std::map<std::string, std::string> keys;
  for (const fs::path& file : files) {
    std::istringstream lines(ReadHostFile(file));
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
      const auto colon = line.find(':');
      if (colon == std::string::npos || colon == 0) continue;
      std::string key = line.substr(0, colon);
      key.erase(0, key.find_first_not_of(" \t"));
      key.erase(key.find_last_not_of(" \t\r") + 1);
      const std::string place = file.filename().string() + ":" + std::to_string(number);
      const auto [at, added] = keys.emplace(key, place);
      if (!added) repeats.push_back(key + " in " + at->second + " and " + place);
    }
  }
  return keys;
}

// Each program's English and Japanese fragments define every key once (a key
// in two fragments shows one of its texts in both places) and name the same
// keys. The finder is proved on a small tree first, then run over ours.
TEST(LanguageFiles, EveryProgramDefinesEachKeyOnceInBothLanguages) {
  const fs::path fixture = fs::path(::testing::TempDir()) / "lang_fixture";
  fs::remove_all(fixture);
  fs::create_directories(fixture / "res/lang");
  fs::create_directories(fixture / "build/lang");
  std::ofstream(fixture / "res/lang/001.txt") << "IDS_A: a\nnot an entry\n";
  std::ofstream(fixture / "res/lang/one.001.txt") << "IDS_B: b\n";
  std::ofstream(fixture / "res/lang/two.001.txt") << "IDS_C: c\n  IDS_B : again\nIDS_C: twice\n";
  std::ofstream(fixture / "res/lang/one.081.txt") << "IDS_B: b\n";
  std::ofstream(fixture / "build/lang/001.txt") << "IDS_A: a\n";  // build output: not a source
  const LanguageGroups found = FindLanguageGroups(fixture);
  ASSERT_EQ(found.size(), 2u);
  std::vector<std::string> repeats;
  GroupKeys(found.at({fixture / "res/lang", "001"}), repeats);
  EXPECT_EQ(repeats, (std::vector<std::string>{"IDS_B in one.001.txt:1 and two.001.txt:2",
                                               "IDS_C in two.001.txt:1 and two.001.txt:3"}));

  const char* root = std::getenv("DRUM_SOURCE_DIR");
  ASSERT_NE(root, nullptr);
  const LanguageGroups groups = FindLanguageGroups(root);
  std::set<fs::path> folders;
  for (const auto& [where, files] : groups) folders.insert(where.first);
  ASSERT_TRUE(folders.count(fs::path(root) / "resources/lang")) << "the finder missed Drummetworks' fragments";
  ASSERT_TRUE(folders.count(fs::path(root) / "resources/pellimor/lang")) << "the finder missed Pellimor's fragments";
  for (const fs::path& folder : folders) {
    SCOPED_TRACE(folder.string());
    std::set<std::string> names[2];
    const char* codes[] = {"001", "081"};
    for (int i = 0; i < 2; ++i) {
      const auto group = groups.find({folder, codes[i]});
      ASSERT_NE(group, groups.end()) << "no " << codes[i] << " files";
      std::vector<std::string> repeated;
      for (const auto& [key, place] : GroupKeys(group->second, repeated)) names[i].insert(key);
      for (const std::string& repeat : repeated) ADD_FAILURE() << "key defined twice: " << repeat;
    }
    std::vector<std::string> only_english, only_japanese;
    std::set_difference(names[0].begin(), names[0].end(), names[1].begin(), names[1].end(),
                        std::back_inserter(only_english));
    std::set_difference(names[1].begin(), names[1].end(), names[0].begin(), names[0].end(),
                        std::back_inserter(only_japanese));
    EXPECT_EQ(only_english, std::vector<std::string>{}) << "keys without a Japanese text";
    EXPECT_EQ(only_japanese, std::vector<std::string>{}) << "keys without an English text";
  }
}

// A word the Japanese texts may spell two ways is spelt one way in every
// program's files: the long vowel mark of a loan word is written everywhere
// or nowhere. Each row is the short spelling, found only where the long one
// does not follow.
TEST(LanguageFiles, JapaneseTextsSpellEachLoanWordOneWay) {
  struct Spelling {
    std::string shorter, chosen;
  };
  const Spelling spellings[] = {{"コンピュータ", "コンピューター"}};
  const char* root = std::getenv("DRUM_SOURCE_DIR");
  ASSERT_NE(root, nullptr);
  size_t chosen_seen = 0;
  for (const auto& [where, files] : FindLanguageGroups(root)) {
    if (where.second != "081") continue;
    for (const fs::path& file : files) {
      std::istringstream lines(ReadHostFile(file));
      std::string line;
      for (int number = 1; std::getline(lines, line); ++number) {
        for (const Spelling& s : spellings) {
          for (size_t at = line.find(s.shorter); at != std::string::npos; at = line.find(s.shorter, at + 1)) {
            if (line.compare(at, s.chosen.size(), s.chosen) == 0) {
              ++chosen_seen;
              continue;
            }
            ADD_FAILURE() << file.filename().string() << ":" << number << " spells " << s.shorter << " for "
                          << s.chosen << ": " << line;
          }
        }
      }
    }
  }
  EXPECT_GT(chosen_seen, 0u) << "the files were not read";
}

}  // namespace
