// Splitting the names programs pass to the file API into a volume and the
// components below its root.
//
// Accepted: "C:\a\b", "C:a" (against the current folder when it is on C:),
// "\a" (root of the current drive), "a\b" (against the current folder),
// "\\?\C:\a", "\\.\C:\a", "\\?\Volume{GUID}\a",
// "\\?\GLOBALROOT\Device\HarddiskVolumeN\a" and
// "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\a". Both separators work.
// Device names ("\\.\PhysicalDrive0", "\\.\C:", "\\?\Volume{GUID}" without a
// trailing separator) and pipes ("\\.\pipe\name") are recognised so the
// caller can route them elsewhere.
//
// Normalisation, as the platform does it for every prefix but "\\?\": empty
// components vanish, "." is dropped, ".." removes the previous component and
// never climbs above the volume root, and trailing blanks and dots are cut
// from each component. Characters that no file name may hold (< > : " | ? *
// and control characters) give ERROR_INVALID_NAME.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/types.h"
#include "platform/fs/volume_driver.h"

namespace platform::fs {

enum class NameKind { File, Device, Pipe };
enum class RootKind { DriveLetter, VolumeGuid, HarddiskVolume, ShadowCopy };

struct ParsedName {
  NameKind kind = NameKind::File;
  RootKind root = RootKind::DriveLetter;
  WCHAR letter = 0;            // upper case, for DriveLetter
  std::u16string volume_guid;  // "{xxxxxxxx-...}" as written, for VolumeGuid
  int number = 0;              // N of HarddiskVolumeN / HarddiskVolumeShadowCopyN
  VolumePath components;       // below the root
  bool trailing_separator = false;
  std::u16string device;       // the name as given, for Device and Pipe
};

// Parses `name`. `current` is the current folder as a full path ("C:\Users"),
// used for relative names. Returns ERROR_SUCCESS, ERROR_INVALID_NAME,
// ERROR_FILENAME_EXCED_RANGE, ERROR_BAD_PATHNAME (a network name, an empty
// name) or ERROR_PATH_NOT_FOUND (a relative name with no usable current folder).
DWORD ParseName(std::u16string_view name, std::u16string_view current, ParsedName* out);

// The full path text of a parsed file name: "C:\a\b", "\\?\Volume{...}\a",
// "\\?\GLOBALROOT\Device\HarddiskVolume3\a". The root alone ends in a separator.
std::u16string FullPathText(const ParsedName& name);

// Case folding used for name comparisons (simple one-to-one upper-casing).
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform::fs
