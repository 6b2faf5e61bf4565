#include <gtest/gtest.h>

#include <set>

#include "platform/core/text.h"
#include "platform/process/command_line.h"

using namespace platform::process;

namespace {

struct SplitCase {
  std::u16string line;
  std::vector<std::u16string> args;
};

TEST(CommandLine, SplitsByThePlatformRules) {
  const SplitCase cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"a b  c", {u"a", u"b", u"c"}},
      {u"\"a b\" c", {u"a b", u"c"}},
      {u"a\"b c\"d", {u"ab cd"}},
      {u"\"\"", {u""}},
      {u"a\\\\\\\"b", {u"a\\\"b"}},     // 3 backslashes + quote: one backslash and a literal quote
      {u"\"a\\\\\" b", {u"a\\", u"b"}},  // 2 backslashes + quote: one backslash, quote closes
      {u"C:\\dir\\x.exe /I \"C:\\P F\\a.msi\"", {u"C:\\dir\\x.exe", u"/I", u"C:\\P F\\a.msi"}},
      {u"\"unterminated arg", {u"unterminated arg"}},
      {u"\ttab\tsep", {u"tab", u"sep"}},
      {u"\"say \"\"hi\"\"\"", {u"say \"hi\""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << platform::to_utf8(c.line);
  }
}

TEST(CommandLine, QuotedArgumentsSplitBackToThemselves) {
  const std::u16string samples[] = {u"plain", u"with blank", u"", u"quote\"inside", u"trailing\\",
                                    u"C:\\Program Files\\", u"a\\\\\"b"};
  std::u16string line = u"prog";
  for (const auto& s : samples) line += u" " + QuoteArgument(s);
  auto args = SplitCommandLine(line);
  ASSERT_EQ(args.size(), std::size(samples) + 1);
  for (size_t i = 0; i < std::size(samples); ++i) EXPECT_EQ(args[i + 1], samples[i]) << i;
}

struct PathCase {
  std::u16string in;
  std::u16string out;
};

TEST(CommandLine, NormalizesPaths) {
  const PathCase cases[] = {
      {u"C:\\a\\b\\..\\c", u"C:\\a\\c"},
      {u"C:\\a\\.\\b", u"C:\\a\\b"},
      {u"C:/a/b", u"C:\\a\\b"},
      {u"X:\\windows\\system32\\drvload.exe ", u"X:\\windows\\system32\\drvload.exe"},
      {u"C:\\dir.\\file. .", u"C:\\dir\\file"},
      {u"C:\\..\\..\\a", u"C:\\a"},
      {u"C:\\", u"C:\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizePath(c.in), c.out) << platform::to_utf8(c.in);
}

// Files of the simulated PC used by the resolution table.
class Resolve : public ::testing::Test {
 protected:
  std::set<std::u16string> files = {
      u"C:\\PROGRAM FILES\\DRUM\\DRUM.EXE",     u"C:\\PROGRAM FILES\\DRUM\\ZVQTHUNK.EXE",
      u"C:\\PROGRAM FILES\\DRUM\\RESOURCES\\VASTREL.EXE",
      u"C:\\WINDOWS\\SYSTEM32\\BCDEDIT.EXE",    u"C:\\WINDOWS\\SYSTEM32\\CMD.EXE",
      u"C:\\WINDOWS\\NOTEPAD.EXE",              u"C:\\TOOLS\\SETRES.EXE",
      u"C:\\WORK\\LOCAL.EXE",                   u"C:\\TOOLS\\A B.EXE",
      u"C:\\PROGRAM.EXE",                       u"C:\\WORK\\TOOL.COM",
      u"C:\\WINDOWS\\SYSTEM32\\BCDEDIT",        // a file without extension that must not win
  };
  SearchFolders folders{u"C:\\Program Files\\Drum", u"C:\\Work", u"C:\\Windows\\System32", u"C:\\Windows",
                        u"C:\\Tools;\"C:\\Quoted Folder\""};
  ProgramProbe probe = [this](const std::u16string& path) { return files.count(UpperCase(path)) > 0; };
};

struct ResolveCase {
  const char16_t* application;  // null: from the command line
  std::u16string line;
  DWORD error;
  std::u16string image;
  std::u16string arguments;
};

TEST_F(Resolve, FindsProgramsAsProcessCreationDoes) {
  const ResolveCase cases[] = {
      // search order: application folder, current, system, Windows, PATH
      {nullptr, u"ZvqThunk.exe", 0, u"C:\\Program Files\\Drum\\ZvqThunk.exe", u""},
      {nullptr, u"zvqthunk", 0, u"C:\\Program Files\\Drum\\zvqthunk.exe", u""},
      {nullptr, u"local /x", 0, u"C:\\Work\\local.exe", u"/x"},
      {nullptr, u"bcdedit /enum", 0, u"C:\\Windows\\System32\\bcdedit.exe", u"/enum"},
      {nullptr, u"notepad.exe a.txt", 0, u"C:\\Windows\\notepad.exe", u"a.txt"},
      {nullptr, u"setres h1024 v768", 0, u"C:\\Tools\\setres.exe", u"h1024 v768"},
      {nullptr, u"tool.com", 0, u"C:\\Work\\tool.com", u""},
      // quotes and blanks
      {nullptr, u"\"C:\\Program Files\\Drum\\Drum.exe\" /B ONECLICK", 0, u"C:\\Program Files\\Drum\\Drum.exe",
       u"/B ONECLICK"},
      {nullptr, u"C:\\Tools\\a b.exe x", 0, u"C:\\Tools\\a b.exe", u"x"},
      {nullptr, u"C:\\Program Files\\Drum\\Drum.exe arg", 0, u"C:\\Program.exe", u"Files\\Drum\\Drum.exe arg"},
      {nullptr, u"  cmd.exe /C script.cmd", 0, u"C:\\Windows\\System32\\cmd.exe", u"/C script.cmd"},
      // relative paths with a folder are not searched
      {nullptr, u"Resources\\Vastrel.exe /store x", 2, u"", u""},
      // missing
      {nullptr, u"missing.exe", 2, u"", u""},
      {nullptr, u"\"C:\\Program Files\\Drum\\nothing.exe\"", 2, u"", u""},
      {nullptr, u"", 2, u"", u""},
      // an application name: no search, no ".exe", trailing blank dropped
      {u"X:\\windows\\system32\\drvload.exe ", u" x.inf", 2, u"", u""},
      {u"C:\\Windows\\System32\\bcdedit.exe ", u" /enum", 0, u"C:\\Windows\\System32\\bcdedit.exe", u"/enum"},
      {u"local.exe", u" /q", 0, u"C:\\Work\\local.exe", u"/q"},
      {u"bcdedit.exe", u"", 2, u"", u""},
      {u"C:\\Windows\\System32\\bcdedit", u"", 0, u"C:\\Windows\\System32\\bcdedit", u""},
  };
  for (const auto& c : cases) {
    std::u16string app = c.application ? c.application : u"";
    Resolution r = ResolveProgram(c.application ? &app : nullptr, c.line, folders, probe);
    SCOPED_TRACE(platform::to_utf8(app + u" | " + c.line));
    EXPECT_EQ(r.error, c.error);
    if (c.error == 0) {
      EXPECT_TRUE(EqualsNoCase(r.image_path, c.image)) << platform::to_utf8(r.image_path);
      EXPECT_EQ(r.arguments, c.arguments);
    }
  }
}

TEST_F(Resolve, CurrentFolderComesBeforeSystemFolder) {
  files.insert(u"C:\\WORK\\BCDEDIT.EXE");
  Resolution r = ResolveProgram(nullptr, u"bcdedit", folders, probe);
  EXPECT_EQ(r.image_path, u"C:\\Work\\bcdedit.exe");
  files.insert(u"C:\\QUOTED FOLDER\\ONLYHERE.EXE");
  r = ResolveProgram(nullptr, u"onlyhere", folders, probe);
  EXPECT_EQ(r.image_path, u"C:\\Quoted Folder\\onlyhere.exe");
}

}  // namespace
