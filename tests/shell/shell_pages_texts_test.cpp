// Every text key the shell's pages look up has an English and a Japanese
// text in the language files' sources, and the Japanese texts are not copies
// of the English ones (apart from the few that are the same in both).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string SourceDir() {
  const char* dir = std::getenv("DRUM_SOURCE_DIR");
  return dir ? dir : "";
}

// KEY -> text of NNN.txt followed by every fragment *.NNN.txt (first wins).
std::map<std::string, std::string> LoadTexts(const std::string& code) {
  std::map<std::string, std::string> texts;
  const fs::path folder = fs::path(SourceDir()) / "resources/lang";
  std::set<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > code.size() + 5 && name.ends_with("." + code + ".txt")) files.insert(entry.path());
  }
  std::vector<fs::path> order = {folder / (code + ".txt")};
  order.insert(order.end(), files.begin(), files.end());
  for (const auto& file : order) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      const size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0) continue;
      std::string text = line.substr(colon + 1);
      while (!text.empty() && (text.front() == ' ' || text.back() == '\r')) {
        if (text.front() == ' ') text.erase(0, 1);
        else text.pop_back();
      }
      texts.emplace(line.substr(0, colon), text);
    }
  }
  return texts;
}

// Keys named in the pages' sources: u"IDS_...", u"ID_..." and the wait
// dialog's two resource-name keys.
std::set<std::string> KeysInSources() {
  static const char* kSources[] = {"restart_prompt.cpp",          "boot_fix.cpp",
                                   "otb_service_check.cpp",       "about_dialog.cpp",
                                   "install_driver_page.cpp",     "wait_dialog.cpp",
                                   "wait_thread.cpp",             "duplicate_source_page.cpp",
                                   "duplicate_destination_page.cpp", "duplicate_page.cpp",
                                   "../page_parts/page_parts.cpp"};
  std::set<std::string> keys;
  const std::regex key(R"re(u"((IDS|ID)_[A-Za-z0-9_]+|nCaptionResourseID|nMessageStringID)")re");
  for (const char* name : kSources) {
    const fs::path path = fs::path(SourceDir()) / "mainapp/shell" / name;
    if (!fs::exists(path)) {
      ADD_FAILURE() << "missing page source " << path;
      continue;
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    for (std::sregex_iterator it(source.begin(), source.end(), key), end; it != end; ++it) keys.insert((*it)[1]);
  }
  return keys;
}

TEST(ShellPagesTexts, EveryKeyOfThePagesHasBothLanguages) {
  ASSERT_FALSE(SourceDir().empty());
  const auto english = LoadTexts("001");
  const auto japanese = LoadTexts("081");
  const auto keys = KeysInSources();
  // The pages use well over a dozen keys; an empty scan would prove nothing.
  ASSERT_GE(keys.size(), 15u);
  for (const char* k : {"IDS_Restart", "IDS_OTB_FAIL", "IDS_bootstring3", "IDS_RAIDDriverLoadFail"})
    EXPECT_TRUE(keys.count(k)) << k;
  const std::set<std::string> sameInBoth = {"IDS_Product", "IDS_OK"};
  for (const auto& k : keys) {
    SCOPED_TRACE(k);
    auto en = english.find(k);
    auto ja = japanese.find(k);
    ASSERT_NE(en, english.end());
    ASSERT_NE(ja, japanese.end());
    EXPECT_FALSE(en->second.empty());
    EXPECT_FALSE(ja->second.empty());
    if (!sameInBoth.count(k)) {
      EXPECT_NE(en->second, ja->second);
    }
  }
}

// Japanese questions end in the full-width mark, and each language spells
// the one-touch boot name one way.
TEST(ShellPagesTexts, OneQuestionMarkAndOneSpellingPerLanguage) {
  ASSERT_FALSE(SourceDir().empty());
  const std::regex one_touch("[Oo]ne-touch[- ][Bb]oot|ワンタッチ ?ブート");
  for (const char* code : {"001", "081"}) {
    SCOPED_TRACE(code);
    const auto texts = LoadTexts(code);
    ASSERT_GE(texts.size(), 50u);
    std::set<std::string> spellings;
    for (const auto& [key, text] : texts) {
      if (std::string(code) == "081") EXPECT_EQ(text.find('?'), std::string::npos) << key << ": " << text;
      for (std::sregex_iterator it(text.begin(), text.end(), one_touch), end; it != end; ++it) {
        std::string s = it->str();
        s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
        spellings.insert(s);
      }
    }
    EXPECT_EQ(spellings.size(), 1u) << *spellings.begin() << " and " << *spellings.rbegin();
  }
}

TEST(ShellPagesTexts, TheAboutLineKeepsItsCutPoint) {
  // The About box shows IDS_About1 up to the character before its first
  // point; both languages end the product text with " ." for that.
  for (const char* code : {"001", "081"}) {
    SCOPED_TRACE(code);
    const auto texts = LoadTexts(code);
    auto about = texts.find("IDS_About1");
    ASSERT_NE(about, texts.end());
    const size_t point = about->second.find('.');
    ASSERT_NE(point, std::string::npos);
    ASSERT_GE(point, 2u);
    EXPECT_EQ(about->second[point - 1], ' ');
    EXPECT_NE(about->second[point - 2], ' ');
  }
}

}  // namespace
