#include "mainapp/shell/program_version.h"

#include <string>
#include <string_view>
#include <vector>

#include "platform/process/version_block.h"
#include "platform/ui/cwnd.h"
#include "program_support/shell_state.h"

CString programVersion;

namespace {

constexpr size_t kMaxVersionCharacters = 19;

}  // namespace

CString ExtractFileVersion(const uint8_t* block, size_t size) {
  if (!block) return CString();
  const size_t units = size / 2;
  auto unit = [&](size_t i) { return static_cast<char16_t>(block[2 * i] | (block[2 * i + 1] << 8)); };
  static const std::u16string_view key = u"FileVersion";
  size_t start = 0;
  while (start < units) {
    std::u16string text;
    size_t end = start;
    while (end < units && unit(end) != 0) text += unit(end++);
    // `end` is the text's terminator (or the block's end).
    if (text.find(key) != std::u16string::npos) {
      const size_t value = end + 2;
      std::u16string version;
      for (size_t i = value; i < units && version.size() < kMaxVersionCharacters && unit(i) != 0; ++i)
        version += unit(i);
      for (size_t at = version.find(u", "); at != std::u16string::npos; at = version.find(u", ", at + 1))
        version.replace(at, 2, u".");
      return CString(version.c_str());
    }
    start = end + 1;
  }
  return CString();
}

CString GetProgramFileVersion() {
  CWinApp* app = AfxGetApp();
  std::u16string path = app && app->m_pszHelpFilePath ? app->m_pszHelpFilePath : u"";
  const size_t dot = path.rfind(u".HLP");
  if (dot != std::u16string::npos) path.replace(dot, 4, u".EXE");
  ShellState.winPEMode = !path.empty() && path[0] == u'X';
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return CString();
  std::vector<uint8_t> buffer(static_cast<size_t>(size) * 2);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) return CString();
  // Only the bytes the block was read into are scanned.
  return ExtractFileVersion(buffer.data(), size);
}
