#include "disk/reparse_points.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/shadow_copy.h"
#include "platform/core/little_endian.h"
#include "platform/fs/file_api.h"
#include "platform/process/privilege.h"
#include "platform/process/process.h"
#include "program_support/token_privileges.h"

ReparseBufferRecord ReparseBuffer;
WCHAR ReparsePrintName[kPrintNameSize];

namespace {

constexpr DWORD kSymlinkPathBuffer = 20;
constexpr DWORD kMountPointPathBuffer = 16;
constexpr DWORD kAnyLinkTag = 0xA0000003;  // the bits a link tag shares with the mount-point tag
constexpr DWORD kMicrosoftTag = 0x80000000;

struct NameSpan {
  DWORD offset = 0;  // byte offset of the first character within the buffer
  DWORD length = 0;  // bytes
  bool empty() const { return length == 0; }
};

// The substitute (+8/+10) or print (+12/+14) name of the data read, in a
// layout whose path buffer starts at `path_buffer`; empty when it does not
// lie inside the bytes that were read.
NameSpan NameAt(DWORD name_field, DWORD path_buffer) {
  const BYTE* b = ReparseBuffer.data;
  NameSpan span{path_buffer + platform::ReadLe16(b + name_field), platform::ReadLe16(b + name_field + 2)};
  if (span.length % 2 || span.offset + span.length > ReparseBuffer.byteCount) return {};
  return span;
}

}  // namespace

CString ParseReparseData(DWORD returned) {
  ReparseBuffer.byteCount = 0;
  ReparseBuffer.pathBufferOffset = 0;
  ReparsePrintName[0] = 0;
  if (returned > kReparseBufferSize) returned = kReparseBufferSize;
  CString result;
  const DWORD tag = returned >= 16 ? platform::ReadLe32(ReparseBuffer.data) : 0;
  if (returned < kMountPointPathBuffer || !(tag & kMicrosoftTag)) return result;
  ReparseBuffer.byteCount = returned;
  NameSpan print;
  if (tag == IO_REPARSE_TAG_SYMLINK || tag == kMicrosoftTag) {
    ReparseBuffer.pathBufferOffset = kSymlinkPathBuffer;
    print = NameAt(12, kSymlinkPathBuffer);
    // Without both names in the link layout, take the mount-point layout.
    if (print.empty() || NameAt(8, kSymlinkPathBuffer).empty()) {
      ReparseBuffer.pathBufferOffset = kMountPointPathBuffer;
      print = NameAt(12, kMountPointPathBuffer);
    }
  } else if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
    ReparseBuffer.pathBufferOffset = kMountPointPathBuffer;
    print = NameAt(12, kMountPointPathBuffer);
  }
  if (ReparseBuffer.pathBufferOffset && !print.empty()) {
    DWORD chars = print.length / 2;
    if (chars > kPrintNameSize - 1) chars = kPrintNameSize - 1;
    for (DWORD i = 0; i < chars; ++i)
      ReparsePrintName[i] = static_cast<WCHAR>(platform::ReadLe16(ReparseBuffer.data + print.offset + 2 * i));
    ReparsePrintName[chars] = 0;
    result = CString(ReparsePrintName, static_cast<int>(chars));
    // The drive part of the shadowed volume points into its shadow copy.
    const CString source_volume(ShadowSourceVolume);
    if (source_volume.GetLength() >= 2) result.Replace(source_volume.Left(2), CString(ShadowDevicePath));
  }
  return result;
}

CString ReadReparseTarget(const CString& path) {
  ReparseBuffer.byteCount = 0;
  ReparseBuffer.pathBufferOffset = 0;
  ReparsePrintName[0] = 0;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return CString();
  WIN32_FIND_DATAW listing{};
  HANDLE find = FindFirstFileW(path, &listing);
  if (find == INVALID_HANDLE_VALUE) return CString();
  CString result;
  if (listing.dwReserved0 & kAnyLinkTag) {
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT |
                        ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    HANDLE item = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (item != INVALID_HANDLE_VALUE) {
      DWORD returned = 0;
      const BOOL read = DeviceIoControl(item, FSCTL_GET_REPARSE_POINT, nullptr, 0, ReparseBuffer.data,
                                        kReparseBufferSize, &returned, nullptr);
      CloseHandle(item);
      if (read) result = ParseReparseData(returned);
    }
  }
  FindClose(find);
  return result;
}

namespace {

constexpr uint32_t kSymlinkRelative = 1;  // SYMLINK_FLAG_RELATIVE

CString NameText(const NameSpan& span) {
  CString text;
  for (DWORD i = 0; i < span.length / 2; ++i)
    text += static_cast<WCHAR>(platform::ReadLe16(ReparseBuffer.data + span.offset + 2 * i));
  return text;
}

// How a link names a volume: in its substitute name ("\??\C:",
// "\??\Volume{...}") and in its print name ("C:", "\\?\Volume{...}").
CString SubstitutePrefix(const CString& volume) {
  return volume.Left(4) == CString(u"\\\\?\\") ? CString(u"\\??\\") + volume.Mid(4) : CString(u"\\??\\") + volume;
}

// `name` with a leading `from` (then a backslash or the end) replaced by `to`;
// false when it does not start so.
bool Repoint(CString& name, const CString& from, const CString& to) {
  if (from.IsEmpty() || name.GetLength() < from.GetLength() || name.Left(from.GetLength()).CompareNoCase(from) != 0)
    return false;
  if (name.GetLength() > from.GetLength() && name[from.GetLength()] != u'\\') return false;
  name = to + name.Mid(from.GetLength());
  return true;
}

void Append16(std::vector<BYTE>& b, uint32_t v) { b.insert(b.end(), {BYTE(v & 0xFF), BYTE(v >> 8)}); }
void AppendName(std::vector<BYTE>& b, const CString& name) {
  for (int i = 0; i < name.GetLength(); ++i) Append16(b, name[i]);
  Append16(b, 0);
}

}  // namespace

std::vector<BYTE> RepointedReparseData(const CString& fromVolume, const CString& toVolume) {
  return RepointedReparseData(std::vector<LinkVolumeMove>{{fromVolume, toVolume}});
}

std::vector<BYTE> RepointedReparseData(const std::vector<LinkVolumeMove>& moves) {
  if (ReparseBuffer.byteCount < kMountPointPathBuffer) return {};
  std::vector<BYTE> data(ReparseBuffer.data, ReparseBuffer.data + ReparseBuffer.byteCount);
  const DWORD tag = platform::ReadLe32(ReparseBuffer.data);
  const DWORD pathBuffer = ReparseBuffer.pathBufferOffset;
  const bool symlink = tag == IO_REPARSE_TAG_SYMLINK && pathBuffer == kSymlinkPathBuffer;
  const bool junction = tag == IO_REPARSE_TAG_MOUNT_POINT && pathBuffer == kMountPointPathBuffer;
  const uint32_t flags = symlink ? platform::ReadLe32(ReparseBuffer.data + 16) : 0;
  if ((symlink && !(flags & kSymlinkRelative)) || junction) {
    CString substitute = NameText(NameAt(8, pathBuffer));
    CString print = NameText(NameAt(12, pathBuffer));
    const auto move = std::find_if(moves.begin(), moves.end(), [&](const LinkVolumeMove& m) {
      return !m.to.IsEmpty() && Repoint(substitute, SubstitutePrefix(m.from), SubstitutePrefix(m.to));
    });
    if (move != moves.end()) {
      if (!Repoint(print, move->from, move->to)) print = substitute.Mid(4);
      // The same record with the new names: substitute, then print name, each ended by a zero.
      data.assign(ReparseBuffer.data, ReparseBuffer.data + pathBuffer);
      AppendName(data, substitute);
      AppendName(data, print);
      const size_t length = data.size() - 8;
      if (length > 0xFFFF || data.size() > kReparseBufferSize) return {};
      data[4] = static_cast<BYTE>(length);
      data[5] = static_cast<BYTE>(length >> 8);
      const uint32_t names[4] = {0, static_cast<uint32_t>(substitute.GetLength() * 2),
                                 static_cast<uint32_t>((substitute.GetLength() + 1) * 2),
                                 static_cast<uint32_t>(print.GetLength() * 2)};
      for (int i = 0; i < 4; ++i) {
        data[8 + 2 * i] = static_cast<BYTE>(names[i]);
        data[9 + 2 * i] = static_cast<BYTE>(names[i] >> 8);
      }
    }
  }
  return data;
}

bool WriteReparsePointCopy(const CString& destination, const CString& fromVolume, const CString& toVolume) {
  return WriteReparsePointCopy(destination, std::vector<LinkVolumeMove>{{fromVolume, toVolume}});
}

bool WriteReparsePointCopy(const CString& destination, const std::vector<LinkVolumeMove>& moves) {
  std::vector<BYTE> data = RepointedReparseData(moves);
  if (data.empty()) return false;
  HANDLE item = CreateFileW(destination, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (item == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const BOOL written = DeviceIoControl(item, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                                       nullptr, 0, &returned, nullptr);
  CloseHandle(item);
  return written != FALSE;
}

int32_t EnableRestorePrivilege() {
  EnableTokenPrivilege(SE_RESTORE_NAME);
  return 1;
}

void WriteDiagnosticLine(const CString& text) { (void)text; }
