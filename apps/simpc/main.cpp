// simpc: makes and inspects simulated PCs.
//
//   simpc new DIR
//   simpc add-disk DIR N --size 8G [--image PATH | --device /dev/sdX] [--sector 4096]
//                        [--bus usb] [--vendor V] [--model M] [--serial S] [--removable]
//   simpc demo DIR [--winpe | --gpt]
//   simpc show DIR
//   simpc log DIR
//   simpc attach DIR N | simpc detach DIR N
//
// Exit status 0 on success, 1 on a failed command, 2 on bad usage.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "machine_report.h"
#include "platform/core/error.h"
#include "platform/fs/demo_tree.h"
#include "platform/fs/shell_folders.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"

namespace {

using platform::machine::DiskConfig;

const char kUsage[] =
    "usage:\n"
    "  simpc new DIR\n"
    "  simpc add-disk DIR N --size 8G [--image PATH | --device /dev/sdX] [--sector 512|4096]\n"
    "                 [--bus ata|sata|scsi|usb|nvme|...] [--vendor TEXT] [--model TEXT] [--serial TEXT] [--removable]\n"
    "  simpc demo DIR [--winpe | --gpt]\n"
    "  simpc show DIR\n"
    "  simpc log DIR\n"
    "  simpc attach DIR N\n"
    "  simpc detach DIR N\n";

int usage(const std::string& problem) {
  std::cerr << "simpc: " << problem << "\n" << kUsage;
  return 2;
}

int failed(const std::string& message) {
  std::cerr << "simpc: " << message << "\n";
  return 1;
}

bool parse_disk_number(const std::string& text, int* number) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *number = std::stoi(text);
  return true;
}

int add_disk(const std::vector<std::string>& args) {
  if (args.size() < 2) return usage("add-disk needs DIR and a disk number");
  DiskConfig disk;
  bool bus_given = false;
  if (!parse_disk_number(args[1], &disk.number)) return usage("disk number \"" + args[1] + "\" is not 0..99");
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& opt = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (opt == "--removable") {
      disk.removable = true;
    } else if (opt == "--size") {
      if (!value(&v)) return usage("--size needs a value");
      auto size = platform::machine::ParseSize(v);
      if (!size) return failed("bad size \"" + v + "\" (use a whole number with K, M, G or T, such as 8G)");
      disk.size = *size;
    } else if (opt == "--image") {
      if (!value(&disk.image)) return usage("--image needs a path");
    } else if (opt == "--device") {
      if (!value(&disk.device)) return usage("--device needs a path");
    } else if (opt == "--sector") {
      if (!value(&v)) return usage("--sector needs a value");
      if (v != "512" && v != "4096") return failed("sector size \"" + v + "\" is not 512 or 4096");
      disk.sector_size = static_cast<uint32_t>(std::stoul(v));
    } else if (opt == "--bus") {
      if (!value(&v)) return usage("--bus needs a value");
      auto bus = platform::machine::ParseBusType(v);
      if (!bus) return failed("unknown bus \"" + v + "\"");
      disk.bus = *bus;
      bus_given = true;
    } else if (opt == "--model") {
      if (!value(&disk.product)) return usage("--model needs a value");
    } else if (opt == "--vendor") {
      if (!value(&disk.vendor)) return usage("--vendor needs a value");
    } else if (opt == "--serial") {
      if (!value(&disk.serial)) return usage("--serial needs a value");
    } else {
      return usage("unknown option \"" + opt + "\"");
    }
  }
  if (!disk.image.empty() && !disk.device.empty()) return usage("give --image or --device, not both");
  // An image named on the command line is where the user's shell says it is.
  if (!disk.image.empty()) disk.image = std::filesystem::absolute(disk.image).lexically_normal().string();
  if (!disk.device.empty() && !bus_given) {
    // A real device's bus as Linux sees it.
    std::string name = disk.device.substr(disk.device.rfind('/') + 1);
    if (auto bus = platform::machine::ReadHostDiskIdentity("/sys/class/block/" + name).bus) disk.bus = *bus;
  }
  std::string error;
  if (!platform::machine::AddDiskToMachine(args[0], disk, &error)) return failed(error);
  return 0;
}

int set_attached(const std::vector<std::string>& args, bool attached) {
  if (args.size() != 2) return usage(std::string(attached ? "attach" : "detach") + " needs DIR and a disk number");
  int number = 0;
  if (!parse_disk_number(args[1], &number)) return usage("disk number \"" + args[1] + "\" is not 0..99");
  std::string error;
  if (!platform::machine::SetDiskAttached(args[0], number, attached, &error)) return failed(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("no command given");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (args.empty()) return usage(command + " needs a machine folder");
  const std::string& dir = args[0];
  std::string error;

  if (command == "new") {
    if (args.size() != 1) return usage("new takes only DIR");
    return platform::machine::CreateMachineFolder(dir, &error) ? 0 : failed(error);
  }
  if (command == "add-disk") return add_disk(args);
  if (command == "demo") {
    // --winpe: the same PC started from a WinPE medium, with its X: drive;
    // --gpt: its system disk is GPT (EFI system, reserved and NTFS partitions).
    bool winpe = false, gpt = false;
    std::vector<std::string> folders;
    for (const std::string& a : args) {
      if (a == "--winpe") winpe = true;
      else if (a == "--gpt") gpt = true;
      else if (a.size() > 1 && a[0] == '-') return usage("unknown option \"" + a + "\"");
      else folders.push_back(a);
    }
    if (folders.size() != 1) return usage("demo takes DIR and at most one of --winpe and --gpt");
    if (winpe && gpt) return usage("demo takes --winpe or --gpt, not both");
    const std::string& folder = folders[0];
    using platform::machine::DemoSystemDisk;
    if (!(winpe ? platform::machine::CreateWinPEDemoMachine(folder, &error)
                : platform::machine::CreateDemoMachine(folder, &error, gpt ? DemoSystemDisk::Gpt : DemoSystemDisk::Mbr)))
      return failed(error);
    // The system volume gets a small Windows tree, written through the file API
    // onto the freshly mounted C: of the new machine.
    if (!platform::machine::OpenMachine(folder, &error)) return failed(error);
    if (platform::fs::PopulateDemoSystemVolume(u'C', &error) != ERROR_SUCCESS) return failed(error);
    if (DWORD status = platform::fs::WriteShellFolderValues(); status != ERROR_SUCCESS)
      return failed("cannot write the shell folder values (error " + std::to_string(status) + ")");
    std::cout << (winpe ? "WinPE demo PC created in " : "demo PC created in ") << folder << "\n";
    return 0;
  }
  if (command == "show") {
    if (args.size() != 1) return usage("show takes only DIR");
    auto machine = platform::machine::Machine::open(dir, &error);
    if (!machine) return failed(error);
    // A registry that cannot be read would show made-up letters, and every
    // program on the PC would refuse to start: say so.
    if (std::filesystem::exists(machine->registry_path())) {
      std::string message;
      if (platform::registry::OpenLiveRegistry(machine->registry_path(), &message) != ERROR_SUCCESS)
        return failed("the registry cannot be read: " + message);
    }
    std::cout << simpc::DescribeMachine(machine);
    // The machine opens without a disk it cannot open; a script checking the
    // machine still learns that something is wrong.
    return machine->missing_disks().empty() ? 0 : 1;
  }
  if (command == "log") {
    if (args.size() != 1) return usage("log takes only DIR");
    // Read without opening the disks: the log matters most when something is broken.
    if (!std::filesystem::exists(dir + "/machine.ini")) return failed("no machine in " + dir + " (machine.ini is missing)");
    std::ifstream in(dir + "/machine.log");
    if (!in) {
      std::cout << "(the log is empty)\n";
      return 0;
    }
    std::cout << in.rdbuf();
    return 0;
  }
  if (command == "attach") return set_attached(args, true);
  if (command == "detach") return set_attached(args, false);
  return usage("unknown command \"" + command + "\"");
}
