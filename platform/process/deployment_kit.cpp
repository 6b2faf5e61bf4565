// The deployment kit's stand-ins: what its installer package leaves in the
// kit folder, and its image tool.
//
// The kit folder (Program Files\Windows AIK) receives
//   Tools\PETools\copype.cmd            "copype ARCH FOLDER": makes a WinPE
//                                       working folder (ISO tree, boot sector)
//   Tools\PETools\ARCH\ISO\...          the WinPE media tree (boot manager,
//                                       boot data, the WinPE image)
//   Tools\PETools\ARCH\boot\etfsboot.com  the CD boot sector (2048 bytes)
//   Tools\ARCH\oscdimg.exe              the image tool
// for ARCH x86 and amd64. The media files are small stand-ins: what the
// build relies on is the tree's shape and that the tool makes a bootable ISO
// of it.
//
// oscdimg.exe [-n] [-m] [-o] [-h] [-bBOOTFILE] [-lLABEL] SOURCE TARGET
// copies the SOURCE tree out of the simulated PC, has xorriso build an ISO
// 9660 image with Joliet names and an El Torito no-emulation boot entry
// from BOOTFILE, and writes it to TARGET. Exit 0 done, 1 bad arguments or
// missing source, 2 the image could not be made or written.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/core/host_temp_file.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/machine/machine.h"
#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"
#include "platform/process/simulated_files.h"
#include "platform/process/standin_programs.h"

extern char** environ;

namespace platform::process {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxDepth = 64;
constexpr DWORD kBadArguments = 1;
constexpr DWORD kImageFailed = 2;

std::string Narrow(const std::u16string& text) { return platform::to_utf8(text); }

bool Put(const std::u16string& path, std::string_view bytes) {
  return MakeSimulatedFolders(path.substr(0, path.rfind(u'\\'))) && WriteSimulatedFile(path, bytes);
}

// A no-emulation CD boot sector of our own: it halts, and carries the boot
// signature where loaders look for it.
std::string BootSector() {
  std::string sector(2048, '\0');
  const unsigned char code[] = {0xFA, 0xF4, 0xEB, 0xFD};  // cli; hlt; jmp back to hlt
  std::copy(std::begin(code), std::end(code), sector.begin());
  const char text[] = "WinPE media boot sector";
  std::copy(std::begin(text), std::end(text) - 1, sector.begin() + 16);
  sector[510] = '\x55';
  sector[511] = '\xAA';
  return sector;
}

std::string CopyPeScript(const std::u16string& kit) {
  std::string k = Narrow(kit);
  return "@echo off\r\n"
         "rem copype ARCH FOLDER: a WinPE working folder from the kit's media tree\r\n"
         "if \"%1\"==\"\" exit /b 1\r\n"
         "if \"%2\"==\"\" exit /b 1\r\n"
         "if not exist \"" + k + "\\Tools\\PETools\\%1\" exit /b 1\r\n"
         "if exist %2 exit /b 1\r\n"
         "md %2\r\n"
         "md %2\\mount\r\n"
         "xcopy \"" + k + "\\Tools\\PETools\\%1\\ISO\" %2\\ISO /e /i /y /q\r\n"
         "copy /y \"" + k + "\\Tools\\PETools\\%1\\boot\\etfsboot.com\" %2\\etfsboot.com\r\n"
         "copy /y \"" + k + "\\Tools\\PETools\\%1\\winpe.wim\" %2\\winpe.wim\r\n";
}

DWORD InstallKit(const std::u16string&) {
  std::u16string root = u"C:\\Program Files";
  if (auto machine = platform::machine::CurrentIfOpen()) root = platform::to_utf16(machine->os().program_files_folder);
  std::u16string kit = JoinPath(root, u"Windows AIK");
  bool ok = Put(JoinPath(kit, u"Tools\\PETools\\copype.cmd"), CopyPeScript(kit));
  for (const char16_t* arch : {u"x86", u"amd64"}) {
    std::u16string pe = JoinPath(kit, std::u16string(u"Tools\\PETools\\") + arch);
    std::string a = Narrow(arch);
    ok = ok && Put(JoinPath(pe, u"boot\\etfsboot.com"), BootSector()) &&
         Put(JoinPath(pe, u"winpe.wim"), "WinPE " + a + " image\r\n") &&
         Put(JoinPath(pe, u"ISO\\bootmgr"), "boot manager " + a + "\r\n") &&
         Put(JoinPath(pe, u"ISO\\boot\\bcd"), "boot configuration data\r\n") &&
         Put(JoinPath(pe, u"ISO\\boot\\boot.sdi"), std::string(4096, '\0')) &&
         Put(JoinPath(pe, u"ISO\\sources\\boot.wim"), "WinPE " + a + " boot image\r\n") &&
         Put(JoinPath(kit, std::u16string(u"Tools\\") + arch + u"\\oscdimg.exe"), "image tool\r\n");
  }
  return ok ? 0 : 1603;
}

// Copies a folder of the simulated PC to a host folder; links are not followed.
bool ExportTree(const std::u16string& from, const fs::path& to, int depth) {
  if (depth > kMaxDepth) return false;
  std::error_code error;
  fs::create_directories(to, error);
  if (error) return false;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(JoinPath(from, u"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return true;  // an empty folder
  bool ok = true;
  do {
    std::u16string name = data.cFileName;
    if (name == u"." || name == u".." || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    std::u16string source = JoinPath(from, name);
    fs::path target = to / Narrow(name);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = ExportTree(source, target, depth + 1) && ok;
      continue;
    }
    HANDLE file = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      ok = false;
      continue;
    }
    std::ofstream out(target, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got)
      out.write(buffer.data(), got);
    CloseHandle(file);
    ok = ok && out.good();
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return ok;
}

bool ImportFile(const fs::path& from, const std::u16string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  HANDLE file = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<char> buffer(1 << 20);
  bool ok = true;
  while (ok && in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    DWORD n = static_cast<DWORD>(in.gcount()), done = 0;
    if (n) ok = WriteFile(file, buffer.data(), n, &done, nullptr) && done == n;
  }
  CloseHandle(file);
  return ok;
}

// Runs a host program with its arguments (no shell); its exit status.
int RunHost(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

DWORD RunOscdimg(const ProgramStart& start) {
  std::u16string boot, label = u"CD_ROM";
  std::vector<std::u16string> names;
  for (const auto& a : SplitCommandLine(start.arguments)) {
    if (a.size() >= 2 && (a[0] == u'-' || a[0] == u'/')) {
      char16_t option = static_cast<char16_t>(a[1] | 0x20);
      if (option == u'b') boot = a.substr(2);
      else if (option == u'l') label = a.substr(2);
      // -n (long names), -m (no size limit), -o, -h: what xorriso does anyway.
    } else {
      names.push_back(a);
    }
  }
  auto full = [&](const std::u16string& p) {
    return NormalizePath(IsAbsolutePath(p) ? p : JoinPath(start.current_folder, p));
  };
  if (names.size() != 2 || label.empty() || label.size() > 32) {
    MachineLog("oscdimg: bad arguments \"" + Narrow(start.arguments) + "\"");
    return kBadArguments;
  }
  std::u16string source = full(names[0]), target = full(names[1]);
  DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    MachineLog("oscdimg: no source folder \"" + Narrow(source) + "\"");
    return kBadArguments;
  }
  // The work tree is named after this process: one left by a killed run is
  // swept at the next start.
  std::string made;
  if (!CreateNamedHostTempFolder("drum-oscdimg", &made)) return kImageFailed;
  fs::path work(made);
  fs::path tree = work / "tree", image = work / "image.iso";
  bool ok = ExportTree(source, tree, 0);
  std::vector<std::string> argv = {"xorriso", "-as", "mkisofs", "-quiet", "-J", "-r", "-V", Narrow(label),
                                   "-o", image.string()};
  if (ok && !boot.empty()) {
    std::vector<uint8_t> sector;
    ok = ReadSimulatedFile(full(boot), &sector, 1u << 20) && !sector.empty();
    if (ok) {
      fs::create_directories(tree / "boot");
      std::ofstream(tree / "boot" / "etfsboot.com", std::ios::binary)
          .write(reinterpret_cast<const char*>(sector.data()), static_cast<std::streamsize>(sector.size()));
      argv.insert(argv.end(), {"-b", "boot/etfsboot.com", "-no-emul-boot", "-boot-load-size", "4", "-hide",
                               "boot.catalog"});
    }
  }
  argv.push_back(tree.string());
  ok = ok && RunHost(argv) == 0 && ImportFile(image, target);
  std::error_code ignored;
  fs::remove_all(work, ignored);
  MachineLog("oscdimg: " + Narrow(source) + " -> " + Narrow(target) + " label " + Narrow(label) +
             (ok ? " done" : " failed"));
  return ok ? 0 : kImageFailed;
}

DWORD InstallDeploymentKit(const std::u16string& package_path) { return InstallKit(package_path); }

}  // namespace platform::process
