// The S.M.A.R.T. attribute catalogue that ships in the install folder
// (Drummetworks.ini beside the program): the staged copy is the source file
// (cmp); awk reads its sections independently (Max Attributes matches the
// sections, every section has a unique id of 1..255, a 0/1 critical mark, a
// name and a description); and the reader loads every entry from it,
// among them the five attributes the health page shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "disk/smart_reader.h"
#include "fixture_wipe_pc.h"
#include "platform/process/process_context.h"

namespace {

using disk_fixture::Shell;

std::string SourceIni() { return std::string(std::getenv("DRUM_SOURCE_DIR")) + "/resources/smart/Drummetworks.ini"; }
// The tests run in build/tests/wipe; the install folder is staged in build/stage.
const char* kStagedIni = "../../stage/Drummetworks/Drummetworks.ini";

TEST(SmartCatalogue, ShipsInTheInstallFolder) {
  ASSERT_TRUE(std::filesystem::exists(kStagedIni));
  EXPECT_EQ(Shell("cmp '" + SourceIni() + "' " + kStagedIni), 0);
}

TEST(SmartCatalogue, EverySectionIsCompleteAndEveryIdUnique) {
  // Prints "sections max problems": a problem is a section without a name,
  // details or a 0/1 critical mark, an id outside 1..255, or an id seen twice.
  const std::string awk = R"(awk -F= '{ sub(/\r$/, "") }
    /^\[Attrib[0-9]+\]$/ { if (n) check(); n++; id = ""; name = ""; det = ""; crit = "" ; next }
    /^Max Attributes=/ { max = $2 }
    /^Id=/ { id = $2 } /^Name=/ { name = $2 } /^Details=/ { det = $2 } /^Critical=/ { crit = $2 }
    function check() { if (name == "" || det == "" || (crit != "0" && crit != "1") || id < 1 || id > 255 || seen[id]++) bad++ }
    END { if (n) check(); print n, max, bad + 0 }' ')";
  std::string out;
  ASSERT_EQ(Shell(awk + SourceIni() + "'", &out), 0);
  int sections = 0, max = -1, bad = -1;
  ASSERT_EQ(std::sscanf(out.c_str(), "%d %d %d", &sections, &max, &bad), 3) << out;
  EXPECT_GE(sections, 20);
  EXPECT_EQ(max, sections);
  EXPECT_EQ(bad, 0);
}

TEST(SmartCatalogue, TheReaderLoadsEveryEntryBesideTheProgram) {
  wipe_fixture::WipePc w;
  std::filesystem::copy_file(kStagedIni, w.ProgramFolder() + "/Drummetworks.ini");
  platform::process::SetProgramImage(u"P:\\Drummetworks.exe", u"Drummetworks.exe");
  SmartReader reader;
  platform::process::SetProgramImage(u"", u"");
  std::string count;
  Shell("grep -c '^\\[Attrib' '" + SourceIni() + "'", &count);
  EXPECT_EQ(reader.catalogue.size(), static_cast<size_t>(std::stoi(count)));
  for (BYTE id : {1, 2, 9, 194, 198}) {
    SCOPED_TRACE(static_cast<int>(id));
    const SmartCatalogueEntry* entry = reader.FindCatalogueEntry(id);
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->name.IsEmpty());
    EXPECT_FALSE(entry->details.IsEmpty());
  }
  ASSERT_NE(reader.FindCatalogueEntry(5), nullptr);
  EXPECT_EQ(reader.FindCatalogueEntry(5)->critical, 1);
  EXPECT_EQ(reader.FindCatalogueEntry(194)->name, u"Temperature");
}

}  // namespace
