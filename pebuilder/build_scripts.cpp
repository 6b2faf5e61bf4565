#include "pebuilder/build_scripts.h"

#include <algorithm>
#include <string>
#include <vector>

#include "mainapp/migrate/file_copy.h"
#include "pebuilder/fennick_support.h"
#include "platform/core/code_page.h"
#include "platform/fs/crt_file.h"
#include "platform/fs/file_api.h"

namespace {

constexpr int kLineBytes = 512;  // a template line is read in pieces of at most 510 bytes
constexpr DWORD kCompareBytes = 1u << 20;
constexpr int kMaxCollectNumber = 9999;

CString ScriptPath(int k) { return ProgramFolder + u"\\Resources\\" + Int64ToText(k) + u".cmd"; }

CString Widen(const char* bytes) {
  int n = MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
  if (n <= 0) return CString();
  std::vector<WCHAR> wide(static_cast<size_t>(n), 0);
  MultiByteToWideChar(CP_ACP, 0, bytes, -1, wide.data(), n);
  return CString(wide.data());
}

std::string Narrow(const CString& text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.GetString(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.GetString(), -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

bool SameBytes(const CString& a, const CString& b) {
  HANDLE fa = CreateFileW(a, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (fa == INVALID_HANDLE_VALUE) return false;
  HANDLE fb = CreateFileW(b, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (fb == INVALID_HANDLE_VALUE) {
    CloseHandle(fa);
    return false;
  }
  LARGE_INTEGER sa{}, sb{};
  bool same = GetFileSizeEx(fa, &sa) && GetFileSizeEx(fb, &sb) && sa.QuadPart == sb.QuadPart;
  std::vector<uint8_t> ba(kCompareBytes), bb(kCompareBytes);
  while (same) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(fa, ba.data(), kCompareBytes, &na, nullptr) || !ReadFile(fb, bb.data(), kCompareBytes, &nb, nullptr) ||
        na != nb) {
      same = false;
      break;
    }
    if (na == 0) break;
    same = std::equal(ba.begin(), ba.begin() + na, bb.begin());
  }
  CloseHandle(fa);
  CloseHandle(fb);
  return same;
}

bool RemoveTree(const CString& folder, int depth, const std::function<void()>& pump) {
  if (depth > kMaxFolderNesting) return false;
  CString pattern = folder + u"\\*.*";
  if (pattern.GetLength() >= MAX_PATH) return false;
  if (pump) pump();
  // The entries are read first, so no search stays open while the walk
  // descends or deletes.
  std::vector<WIN32_FIND_DATAW> entries;
  ReadListing(pattern, entries);
  bool ok = true;
  for (const WIN32_FIND_DATAW& entry : entries) {
    CString name = entry.cFileName;
    if (name == u"." || name == u"..") continue;
    CString path = folder + u"\\" + name;
    const bool is_folder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (is_folder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A linked folder: the link goes, what it points at stays.
      SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      ok = RemoveDirectoryW(path) && ok;
    } else if (is_folder) {
      if (!RemoveTree(path, depth + 1, pump)) return false;
    } else {
      SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      ok = DeleteFileW(path) && ok;
    }
  }
  SetFileAttributesW(folder, FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryW(folder) && ok;
}

}  // namespace

bool BuildTemplates(const CString& language, CString templates[3]) {
  const char16_t* suffix = language == u"English" ? u"_32_EN-US.cmd" : language == u"Japanese" ? u"_32_JA-JP.cmd" : nullptr;
  for (int k = 0; k < 3; ++k)
    templates[k] = suffix ? ProgramFolder + u"\\Resources\\" + Int64ToText(k + 1) + suffix : CString();
  return suffix != nullptr;
}

bool ExpandScriptTemplate(const CString& template_path, const CString& output_path) {
  CFILE* in = _wfopen(template_path, u"r");
  if (!in) return false;
  CFILE* out = _wfopen(output_path, u"w");
  if (!out) {
    fclose(in);
    return false;
  }
  const CString drive = BrowseResultFolder.Left(2);
  bool ok = true;
  char buffer[kLineBytes];
  while (ok) {
    std::fill(std::begin(buffer), std::end(buffer), '\0');
    if (!fgets(buffer, kLineBytes - 1, in)) break;
    CString line = Widen(buffer);
    line.Replace(u"%IPATH%", BrowseResultFolder);
    line.Replace(u"%DRIVE%", drive);
    std::string bytes = Narrow(line) + "\n";
    ok = fputs(bytes.c_str(), out) >= 0;
  }
  ok = ok && !ferror(in);
  fclose(in);
  ok = fclose(out) == 0 && ok;
  return ok;
}

bool GenerateBuildScripts(const CString& t1, const CString& t2, const CString& t3) {
  for (int k = 1; k <= 3; ++k) DeleteFileW(ScriptPath(k));
  const CString templates[3] = {t1, t2, t3};
  for (int k = 1; k <= 3; ++k) {
    if (templates[k - 1].IsEmpty() || !ExpandScriptTemplate(templates[k - 1], ScriptPath(k))) {
      for (int j = 1; j <= 3; ++j) DeleteFileW(ScriptPath(j));
      return false;
    }
  }
  return true;
}

bool RemoveFolderTree(const CString& folder, const std::function<void()>& pump) {
  return RemoveTree(folder, 0, pump);
}

CString CollectBuiltImage(const CString& image, const CString& tools) {
  CreateDirectoryW(tools, nullptr);
  CString target = tools + u"\\CD.iso";
  bool copied = CopyFileW(image, target, TRUE);
  for (int n = 1; !copied && n <= kMaxCollectNumber; ++n) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    target = tools + u"\\CD(" + Int64ToText(n) + u").iso";
    copied = CopyFileW(image, target, TRUE);
  }
  if (!copied) return CString();
  if (!SameBytes(image, target)) {
    DeleteFileW(target);
    return CString();
  }
  DeleteFileW(image);
  return target;
}

void MakeVolumeLabelField(const CString& label, uint8_t field[kVolumeLabelBytes]) {
  std::fill(field, field + kVolumeLabelBytes, static_cast<uint8_t>(' '));
  for (int i = 0; i < kVolumeLabelBytes && i < label.GetLength(); ++i) field[i] = static_cast<uint8_t>(label[i] & 0xFF);
}

bool WriteVolumeLabel(const CString& image, const CString& label) {
  uint8_t field[kVolumeLabelBytes];
  MakeVolumeLabelField(label, field);
  HANDLE file = CreateFileW(image, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{}, at{};
  at.QuadPart = kVolumeLabelOffset;
  DWORD done = 0;
  // An image too short to hold the descriptor is left as it is.
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= kVolumeLabelOffset + kVolumeLabelBytes &&
            SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && WriteFile(file, field, kVolumeLabelBytes, &done, nullptr) &&
            done == kVolumeLabelBytes;
  CloseHandle(file);
  return ok;
}

CString ElapsedText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const int64_t day_part = seconds % 86400;
  CString text;
  text.Format(u"%02d:%02d:%02d", static_cast<int>(day_part / 3600), static_cast<int>(day_part / 60 % 60),
              static_cast<int>(day_part % 60));
  return text;
}
