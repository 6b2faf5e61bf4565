// The mount manager's registry values, kept through the Reg* calls on the
// live registry of the current machine.
#include <vector>

#include "platform/registry/live_registry.h"
#include "platform/registry/registry.h"
#include "platform/storage/mount_manager.h"

namespace platform::storage {

namespace {

constexpr const char16_t* kMountedDevices = u"SYSTEM\\MountedDevices";
constexpr const char16_t* kMountMgr = u"SYSTEM\\CurrentControlSet\\Services\\MountMgr";
// Programs read the disk list under both names of the control set.
constexpr const char16_t* kDiskEnumKeys[] = {u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum",
                                             u"SYSTEM\\ControlSet001\\Services\\disk\\Enum"};

class Key {
 public:
  Key(const char16_t* path, bool create) {
    LONG rc = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr)
                     : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_);
    if (rc != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

class RegMountRegistry final : public MountRegistry {
 public:
  void use_machine_registry(const std::string& host_path) override {
    platform::registry::OpenLiveRegistry(host_path);  // a damaged file leaves the previous registry in use
  }

  bool no_auto_mount() override {
    Key key(kMountMgr, false);
    if (!key) return false;
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExW(key.get(), u"NoAutoMount", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
      return false;
    return type == REG_DWORD && size == sizeof value && value == 1;
  }

  std::map<std::u16string, std::vector<uint8_t>> mounted_devices() override {
    std::map<std::u16string, std::vector<uint8_t>> out;
    Key key(kMountedDevices, false);
    if (!key) return out;
    for (DWORD i = 0; i < 4096; ++i) {  // capped: the key is the user's to fill
      WCHAR name[512];
      DWORD name_len = 512, type = 0, size = 0;
      LONG rc = RegEnumValueW(key.get(), i, name, &name_len, nullptr, &type, nullptr, &size);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) continue;
      std::vector<uint8_t> data(size);
      name_len = 512;
      if (RegEnumValueW(key.get(), i, name, &name_len, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) continue;
      data.resize(size);
      if (type == REG_BINARY) out[std::u16string(name, name_len)] = std::move(data);
    }
    return out;
  }

  void set_mounted_device(const std::u16string& name, const std::vector<uint8_t>& data) override {
    Key key(kMountedDevices, true);
    if (key)
      RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }

  void delete_mounted_device(const std::u16string& name) override {
    Key key(kMountedDevices, true);
    if (key) RegDeleteValueW(key.get(), name.c_str());
  }

  void set_disk_enum(const std::vector<std::u16string>& ids) override {
    for (const char16_t* path : kDiskEnumKeys) {
      Key key(path, true);
      if (!key) continue;
      // Drop numbered values left from a longer list.
      for (DWORD i = static_cast<DWORD>(ids.size()); i < 1000; ++i) {
        std::u16string name = platform_number(i);
        if (RegDeleteValueW(key.get(), name.c_str()) != ERROR_SUCCESS) break;
      }
      DWORD count = static_cast<DWORD>(ids.size());
      RegSetValueExW(key.get(), u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
      RegSetValueExW(key.get(), u"NextInstance", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
      for (size_t i = 0; i < ids.size(); ++i) {
        std::u16string name = platform_number(static_cast<DWORD>(i));
        RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(ids[i].c_str()),
                       static_cast<DWORD>((ids[i].size() + 1) * sizeof(WCHAR)));
      }
    }
  }

 private:
  static std::u16string platform_number(DWORD n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  }
};

}  // namespace

std::shared_ptr<MountRegistry> RegistryMountRegistry() { return std::make_shared<RegMountRegistry>(); }

}  // namespace platform::storage
