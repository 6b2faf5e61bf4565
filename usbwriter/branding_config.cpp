#include "usbwriter/branding_config.h"

#include <cstring>
#include <vector>

#include "platform/core/kobject.h"
#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "usbwriter/branding/branding_record.h"
#include "usbwriter/iso/iso_reader.h"

CString HelpFilePath;
CString BrandCompany;
CString BrandProduct;
CString BrandLanguage;
CString DefaultIsoPath;
uint32_t BrandingFlags = 0;
bool NeedBiosBlob = false;
uint8_t BiosBlob[kBiosBlobCapacity];
uint32_t BiosBlobLength = 0;

namespace {

CString WithLineBreaks(const std::u16string& text) {
  CString out(text);
  out.Replace(u"\\n", u"\n");
  return out;
}

void EndWith(LPCWSTR text, LPCWSTR caption, UINT style) {
  MessageBoxW(nullptr, text, caption, style);
  ExitProcess(0);
}

}  // namespace

CString ProgramFolderOf(const CString& programPath) {
  int slash = -1;
  for (int i = 1; i < programPath.GetLength(); ++i) {
    if (programPath[i] == u'\\') slash = i;
  }
  return slash > 0 ? programPath.Left(slash) : programPath;
}

void LoadBrandingConfig() {
  CString path = ProgramFolder + u"\\Resources\\inf.dll";
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    EndWith(u"INF.Dll File not found. Aborting...", u"Corvelware Pellimor", MB_OK | MB_TASKMODAL);
    return;
  }
  std::vector<uint8_t> bytes(kBrandingRecordSize, 0);
  DWORD got = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
  CloseHandle(file);
  // A record cut short would read as the masks' garbage: refuse it.
  if (got < kBrandingRecordSize) {
    EndWith(u"INF.Dll File is incomplete. Aborting...", u"Corvelware Pellimor", MB_OK | MB_TASKMODAL);
    return;
  }
  BrandingFields fields = DecodeBrandingRecord(bytes);
  BrandCompany = WithLineBreaks(fields.company);
  BrandProduct = WithLineBreaks(fields.product);
  BrandLanguage = CString(fields.language);
  DefaultIsoPath = ProgramFolder + u"\\Resources\\" + CString(fields.imageName);
  SourceIsoPath = DefaultIsoPath;
  BrandingFlags = fields.flags;
  WriteBootLoader = (BrandingFlags & kFlagWriteBootLoader) != 0;
  NeedBiosBlob = (BrandingFlags & kFlagNeedBiosBlob) != 0;
  memset(BiosBlob, 0, sizeof BiosBlob);
  BiosBlobLength = 0;
  if (NeedBiosBlob && !LoadBiosBlob()) EndWith(u"Illegal BIOS File", nullptr, MB_OK);
}

CString FindBiosBlobFile(const CString& wildcard) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(wildcard, &data);
  if (find == INVALID_HANDLE_VALUE) return CString();
  FindClose(find);
  return CString(data.cFileName);
}

bool LoadBiosBlob() {
  CString name = FindBiosBlobFile(u"\\\\?\\" + ProgramFolder + u"\\Resources\\*.mcd");
  CString path;
  if (!name.IsEmpty()) {
    path = ProgramFolder + u"\\Resources\\" + name;
  } else {
    CFileDialog picker(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, u"MCD Files (*.mcd)|*.mcd|", nullptr);
    if (picker.DoModal() == IDOK) path = picker.GetPathName();
    if (path.IsEmpty()) return false;
  }
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart > kBiosBlobMaxLength) {
    CloseHandle(file);
    return false;
  }
  DWORD got = 0;
  bool ok = ReadFile(file, BiosBlob, static_cast<DWORD>(size.QuadPart), &got, nullptr) &&
            got == static_cast<DWORD>(size.QuadPart);
  CloseHandle(file);
  if (!ok) return false;
  BiosBlobLength = got;
  return true;
}

bool ChooseIsoFile() {
  CFileDialog picker(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, u"ISO Files (*.iso)|*.iso|", nullptr);
  picker.m_ofn.lpstrInitialDir = ProgramFolder;
  CString chosen;
  if (picker.DoModal() == IDOK) chosen = picker.GetPathName();
  SourceIsoPath = chosen;
  if (chosen.IsEmpty()) return false;
  DefaultIsoPath = chosen;
  return true;
}
