// Reparse points of the file-level copy: reading a link's reparse data and its
// target (redirected into the current shadow copy), writing it onto the copied
// item with links into the copied volume re-pointed at the copy, and the
// restore privilege that writing needs.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/fs/volume_driver.h"  // IO_REPARSE_TAG_*

constexpr DWORD kReparseBufferSize = 17000;

// The reparse data read last, as the platform returns it: tag (+0), data
// length (+4), substitute-name offset/length (+8/+10), print-name
// offset/length (+12/+14, bytes within the path buffer); a symbolic link has
// flags at +16 and its path buffer at +20, a mount point its path buffer at +16.
struct ReparseBufferRecord {
  BYTE data[kReparseBufferSize] = {};
  DWORD byteCount = 0;           // 0 when the last read obtained nothing
  DWORD pathBufferOffset = 0;    // 16 or 20
};
extern ReparseBufferRecord ReparseBuffer;

constexpr int32_t kPrintNameSize = 1024;
// The print name taken from ReparseBuffer (at most 1,023 characters and a zero).
extern WCHAR ReparsePrintName[kPrintNameSize];

// Takes the `returned` bytes of reparse data already in ReparseBuffer.data
// (a link or a mount point; anything else leaves the record empty): the
// print name, with the shadowed volume's drive part replaced by
// ShadowDevicePath, or empty. Every name must lie inside those bytes.
CString ParseReparseData(DWORD returned);
// The target of a reparse point with the shadowed volume's drive part replaced
// by ShadowDevicePath; empty for anything else.
CString ReadReparseTarget(const CString& path);
// Writes ReparseBuffer (read last by ReadReparseTarget) onto the copied item
// `destination`. A relative symbolic link is written as it is (it points into
// the copy already); an absolute link (symbolic link or junction) whose
// target lies on the copied volume `fromVolume` is re-pointed at the same
// place on the copy, `toVolume`; any other link is written unchanged.
// Volumes are drive texts ("C:") or volume paths ("\\?\Volume{...}"),
// without trailing backslash. False when nothing was read or the write failed.
bool WriteReparsePointCopy(const CString& destination, const CString& fromVolume, const CString& toVolume);
// A volume that links may point into (`from`) and the name the copy's links
// use for it (`to`): drive texts or volume paths as above.
struct LinkVolumeMove {
  CString from;
  CString to;
};
// The same with any number of volumes: an absolute link into the `from` of
// the first move that matches is re-pointed at its `to`; with no moves every
// link is written as it is.
bool WriteReparsePointCopy(const CString& destination, const std::vector<LinkVolumeMove>& moves);
// The reparse data WriteReparsePointCopy writes: ReparseBuffer's record,
// re-pointed as said there; empty when nothing was read or the new names do
// not fit a record. ReparseBuffer itself is not changed.
std::vector<BYTE> RepointedReparseData(const CString& fromVolume, const CString& toVolume);
std::vector<BYTE> RepointedReparseData(const std::vector<LinkVolumeMove>& moves);
// Enables SeRestorePrivilege in the process token when it holds it; always 1.
int32_t EnableRestorePrivilege();
// Takes a diagnostic line of the copy routines and writes nothing.
void WriteDiagnosticLine(const CString& text);
