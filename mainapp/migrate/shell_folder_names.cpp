#include "mainapp/migrate/shell_folder_names.h"

#include "program_support/language_table.h"

std::array<ShellNamePair, 14> PrefixExclusions{{
    {u"Microsoft terminal Services", u"IDS_MicrosoftterminalServices", {}},
    {u"Domain", u"IDS_Domain", {}},
    {u"Recycle Bin", u"IDS_RecycleBin", {}},
    {u"Add Network Place", u"IDS_AddNetworkPlace", {}},
    {u"Network Setup Wizard", u"IDS_NetworkSetupWizard", {}},
    {u"Mynetworkplaces", u"IDS_NetworkSetupWizard", {}},
    {u"Mynetworkplaces", u"IDS_NetworkSetupWizard", {}},
    {u"Shared Documents", u"IDS_SharedDocuments", {}},
    {u"Shared Music", u"IDS_SharedMusic", {}},
    {u"Shared Pictures", u"IDS_SharedPictures", {}},
    {u"My Music", u"IDS_MyMusic", {}},
    {u"My Pictures", u"IDS_MyPictures", {}},
    {u"Control Panel", u"IDS_ControlPanel", {}},
    {u"Libraries", u"IDS_Library", {}},
}};

std::array<ShellNamePair, 15> NameExclusions{{
    {u"My Network", u"IDS_MyNetwork", {}},
    {u"Entire Network", u"IDS_EntireNetwork", {}},
    {u"Mynetworkplaces", u"IDS_EntireNetwork", {}},
    {u"Microsoft terminal Services", u"IDS_MicrosoftterminalServices", {}},
    {u"Domain", u"IDS_Domain", {}},
    {u"My Computer", u"IDS_MyComputer", {}},
    {u"Recycle Bin", u"IDS_RecycleBin", {}},
    {u"Add Network Place", u"IDS_AddNetworkPlace", {}},
    {u"Network Setup Wizard", u"IDS_NetworkSetupWizard", {}},
    {u"Microsoft Windows Network", u"IDS_MicrosoftWindowsNetwork", {}},
    {u"Control Panel", u"IDS_ControlPanel", {}},
    {u"Libraries", u"IDS_Libraries", {}},
    {u"Desktop", u"IDS_Desktop", {}},
    {u"Computer", u"IDS_Computer", {}},
    {u"Network", u"IDS_NetWork", {}},
}};

std::array<ShellNamePair, 4> ExtraNameExclusions{{
    {u"Network", u"IDS_Network", CString(u"Network")},
    {u"Domain", u"IDS_Domain", CString(u"Domain")},
    {u"My Documents", u"IDS_MyDocuments", CString(u"My Documents")},
    {u"Libraries", u"IDS_Libraries", CString(u"Libraries")},
}};

namespace {

CString Upper(const CString& text) {
  CString upper = text;
  upper.MakeUpper();
  return upper;
}

template <size_t N>
void LoadPartners(std::array<ShellNamePair, N>& table, const std::function<CString(const char16_t*)>& lookup) {
  for (ShellNamePair& pair : table) pair.localized = lookup(pair.key);
}

template <size_t N>
bool EqualsAnyName(const std::array<ShellNamePair, N>& table, const CString& upperName) {
  for (const ShellNamePair& pair : table) {
    if (Upper(CString(pair.english)) == upperName) return true;
    if (!pair.localized.IsEmpty() && Upper(pair.localized) == upperName) return true;
  }
  return false;
}

}  // namespace

void LoadShellFolderNames() {
  LoadShellFolderNames([](const char16_t* key) { return LookupString(key); });
}

void LoadShellFolderNames(const std::function<CString(const char16_t* key)>& lookup) {
  LoadPartners(PrefixExclusions, lookup);
  LoadPartners(NameExclusions, lookup);
  LoadPartners(ExtraNameExclusions, lookup);
}

bool HasExcludedFolderPrefix(const CString& name) {
  const CString upper = Upper(name);
  for (const ShellNamePair& pair : PrefixExclusions) {
    for (const CString& prefix : {Upper(CString(pair.english)), Upper(pair.localized)}) {
      if (!prefix.IsEmpty() && upper.Left(prefix.GetLength()) == prefix) return true;
    }
  }
  return false;
}

bool IsExcludedFolderName(const CString& name) {
  const CString upper = Upper(name);
  return EqualsAnyName(NameExclusions, upper) || EqualsAnyName(ExtraNameExclusions, upper);
}
