// Version resources: the byte layout of a program's version block, the
// registry of blocks by program file, and the platform calls that read them.
//
// Layout (all little-endian, every node starting on a 4-byte boundary):
//   node  +0x00 WORD length       whole node with its children, in bytes
//         +0x02 WORD value_length bytes for binary values, UTF-16 units
//                                 (terminator included) for text values
//         +0x04 WORD type         0 binary, 1 text
//         +0x06 key               UTF-16, zero-terminated, then padding to 4
//         value                   then padding to 4
//         children                nodes
// The root "VS_VERSION_INFO" holds VS_FIXEDFILEINFO as its value and the
// children "StringFileInfo" (one table per language, such as "040904b0",
// holding the "FileVersion", "ProductName" ... texts) and "VarFileInfo" (the
// "Translation" pairs). A text node whose key has 11 characters (FileVersion,
// ProductName) has its value 13 units after the key's start, one of 15
// characters (FileDescription) 17 units after: key, terminator, one padding
// unit. Readers that scan the raw block depend on that.
//
// The resource compiler of platform/ui builds its version blocks with
// BuildVersionBlock too, so there is one layout in the suite.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/types.h"

constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;
constexpr DWORD VS_FFI_STRUCVERSION = 0x00010000;
constexpr DWORD VS_FFI_FILEFLAGSMASK = 0x0000003F;
constexpr DWORD VOS_NT_WINDOWS32 = 0x00040004;
constexpr DWORD VFT_APP = 0x00000001;
constexpr DWORD VFT_DLL = 0x00000002;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;         // +0x00 VS_FFI_SIGNATURE
  DWORD dwStrucVersion;      // +0x04
  DWORD dwFileVersionMS;     // +0x08 major << 16 | minor
  DWORD dwFileVersionLS;     // +0x0c build << 16 | revision
  DWORD dwProductVersionMS;  // +0x10
  DWORD dwProductVersionLS;  // +0x14
  DWORD dwFileFlagsMask;     // +0x18
  DWORD dwFileFlags;         // +0x1c
  DWORD dwFileOS;            // +0x20
  DWORD dwFileType;          // +0x24
  DWORD dwFileSubtype;       // +0x28
  DWORD dwFileDateMS;        // +0x2c
  DWORD dwFileDateLS;        // +0x30
};                           // 0x34 bytes
static_assert(sizeof(VS_FIXEDFILEINFO) == 0x34);

DWORD GetFileVersionInfoSizeW(LPCWSTR file_name, LPDWORD handle);
BOOL GetFileVersionInfoW(LPCWSTR file_name, DWORD handle, DWORD length, LPVOID data);
// `block` is a buffer filled by GetFileVersionInfoW; its root length bounds every read.
BOOL VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, UINT* length);

namespace platform::process {

struct VersionInfo {
  WORD file_version[4] = {1, 0, 0, 0};
  WORD product_version[4] = {1, 0, 0, 0};
  DWORD file_flags = 0;
  DWORD file_os = VOS_NT_WINDOWS32;
  DWORD file_type = VFT_APP;
  std::u16string string_table = u"040904b0";  // language and code page, as hex text
  // The texts in block order (CompanyName, FileDescription, FileVersion, ...).
  std::vector<std::pair<std::u16string, std::u16string>> strings;
  // Language and code-page pairs of VarFileInfo\Translation.
  std::vector<std::pair<WORD, WORD>> translations = {{0x0409, 0x04B0}};
};

// The block's bytes; empty when a node would exceed the 64 KiB a length word holds.
std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info);

// Registers the version block of a program file: by full path on the
// simulated PC ("C:\Program Files\Drum\Drum.exe") or by file name alone
// ("Drum.exe"), which matches that name in any folder.
void RegisterVersionBlock(const std::u16string& path_or_name, std::vector<uint8_t> block);
void UnregisterVersionBlock(const std::u16string& path_or_name);

// Finds a value as VerQueryValueW does, within `size` bytes of `block`.
// Returns false for a missing value or a damaged block (a node that does not
// fit its parent, a key without terminator, links deeper than 8 levels).
bool FindVersionValue(const uint8_t* block, size_t size, std::u16string_view sub_block, const uint8_t** value,
                      UINT* length);

}  // namespace platform::process
