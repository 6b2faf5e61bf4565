#include "platform/storage/device_path.h"

#include "platform/core/ascii_case.h"

namespace platform::storage {
namespace {

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Parses a decimal number that fills `text` exactly, without leading zeros
// (the object names are "PhysicalDrive1", never "PhysicalDrive01").
bool ParseNumber(std::u16string_view text, int* value) {
  if (text.empty() || text.size() > 6) return false;
  if (text.size() > 1 && text[0] == u'0') return false;
  int v = 0;
  for (WCHAR c : text) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c - u'0');
  }
  *value = v;
  return true;
}

}  // namespace

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

DevicePath ParseDevicePath(std::u16string_view path) {
  DevicePath result;
  if (!StartsWithIgnoringCase(path, u"\\\\.\\") && !StartsWithIgnoringCase(path, u"\\\\?\\")) return result;
  const bool dot = path[2] == u'.';
  std::u16string_view name = path.substr(4);

  // "X:" alone is the volume; "X:\..." is a file path on it.
  if (name.size() >= 2 && name[1] == u':' && ((name[0] >= u'A' && name[0] <= u'Z') || (name[0] >= u'a' && name[0] <= u'z'))) {
    if (name.size() == 2) {
      result.kind = DevicePath::Kind::Letter;
      result.letter = AsciiUpper(name[0]);
    }
    return result;
  }
  if (StartsWithIgnoringCase(name, u"PhysicalDrive")) {
    result.kind = DevicePath::Kind::Unknown;
    if (ParseNumber(name.substr(13), &result.disk)) result.kind = DevicePath::Kind::PhysicalDrive;
    return result;
  }
  if (StartsWithIgnoringCase(name, u"Volume{")) {
    // "Volume{" + 36 + "}" with an optional trailing backslash; anything longer is a path inside the volume.
    std::u16string_view guid = name.substr(6);
    if (!guid.empty() && guid.back() == u'\\') guid.remove_suffix(1);
    if (guid.size() != 38 || guid.back() != u'}') {
      if (name.find(u'\\') != std::u16string_view::npos && name.find(u'\\') < name.size() - 1) return result;  // a file path
      result.kind = DevicePath::Kind::Unknown;
      return result;
    }
    result.kind = DevicePath::Kind::VolumeGuid;
    result.volume_name = u"\\\\?\\Volume";
    result.volume_name += guid;
    result.volume_name += u"\\";
    return result;
  }
  if (StartsWithIgnoringCase(name, u"GLOBALROOT\\")) {
    std::u16string_view device = name.substr(10);  // "\Device\..."
    // Shadow copies are frozen views that the file-system layer serves.
    if (StartsWithIgnoringCase(device, u"\\Device\\HarddiskVolumeShadowCopy")) return result;
    if (StartsWithIgnoringCase(device, u"\\Device\\HarddiskVolume")) {
      int n;
      std::u16string_view number = device.substr(22);
      size_t slash = number.find(u'\\');
      if (slash != std::u16string_view::npos) {
        if (slash + 1 < number.size()) return result;  // a file path inside the volume
        number = number.substr(0, slash);
      }
      result.kind = DevicePath::Kind::Unknown;
      if (ParseNumber(number, &n)) {
        result.kind = DevicePath::Kind::VolumeDevice;
        result.volume_name = u"\\Device\\HarddiskVolume" + std::u16string(number);
      }
      return result;
    }
    result.kind = DevicePath::Kind::Unknown;
    return result;
  }
  if (StartsWithIgnoringCase(name, u"Harddisk")) {
    std::u16string_view rest = name.substr(8);
    size_t p = 0;
    while (p < rest.size() && rest[p] >= u'0' && rest[p] <= u'9') ++p;
    result.kind = DevicePath::Kind::Unknown;
    if (p > 0 && StartsWithIgnoringCase(rest.substr(p), u"Partition") && ParseNumber(rest.substr(0, p), &result.disk) &&
        ParseNumber(rest.substr(p + 9), &result.partition))
      result.kind = DevicePath::Kind::Partition;
    return result;
  }
  if (EqualsIgnoringCase(name, u"SMARTVSD")) {
    result.kind = DevicePath::Kind::SmartVsd;
    return result;
  }
  // Pipes, mailslots and the like belong to other parts of the platform.
  if (StartsWithIgnoringCase(name, u"pipe\\") || StartsWithIgnoringCase(name, u"mailslot\\") ||
      StartsWithIgnoringCase(name, u"UNC\\"))
    return result;
  // Any other single name under "\\.\" is a device this PC does not have
  // (ScsiN:, SMARTVSD, COM1, ...); longer "\\?\" paths are file paths.
  if (dot || name.find(u'\\') == std::u16string_view::npos) {
    if (name.find(u'\\') == std::u16string_view::npos && !name.empty()) result.kind = DevicePath::Kind::Unknown;
  }
  return result;
}

}  // namespace platform::storage
