// simpc from the command line: the demo PC checked by blkid, sfdisk and
// mtools, the table that `show` prints, attach/detach, the log, and the
// errors for bad input.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

using Run = test_support::CommandResult;
using test_support::RunCommand;

Run run(const std::string& command) { return RunCommand(command); }

Run simpc(const std::string& args) { return run(std::string(SIMPC_PATH) + " " + args); }

class Simpc : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = test_support::MakeTempFolder("simpc-test");
    fs::remove(dir);  // simpc makes it
  }
  void TearDown() override { fs::remove_all(dir); }
};

// The line of `text` that contains every one of `parts`, or "".
std::string line_with(const std::string& text, std::initializer_list<std::string> parts) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    bool all = true;
    for (auto& p : parts) all = all && line.find(p) != std::string::npos;
    if (all) return line;
    pos = end + 1;
  }
  return "";
}

}  // namespace

TEST_F(Simpc, DemoPcAsToolsSeeIt) {
  auto r = simpc("demo " + dir);
  ASSERT_EQ(r.status, 0) << r.output;

  // Disk 0: MBR with one active NTFS partition at 1 MiB.
  auto sf = run("sfdisk -d " + dir + "/disk0.img");
  ASSERT_EQ(sf.status, 0) << sf.output;
  EXPECT_NE(sf.output.find("start=        2048, size=    83884032, type=7, bootable"), std::string::npos) << sf.output;
  auto ntfs = run("blkid -p -O 1048576 -o value -s TYPE " + dir + "/disk0.img");
  EXPECT_EQ(ntfs.output, "ntfs\n");
  // Disk 1: empty. Disk 2: FAT32 that mtools can read.
  EXPECT_NE(run("blkid -p " + dir + "/disk1.img").status, 0);
  auto fat = run("blkid -p -O 1048576 -o value -s VERSION " + dir + "/disk2.img");
  EXPECT_EQ(fat.output, "FAT32\n");
  auto mdir = run("mdir -i " + dir + "/disk2.img@@1M ::");
  EXPECT_EQ(mdir.status, 0) << mdir.output;
  EXPECT_NE(mdir.output.find("USBSTICK"), std::string::npos) << mdir.output;

  auto show = simpc("show " + dir);
  ASSERT_EQ(show.status, 0) << show.output;
  EXPECT_NE(line_with(show.output, {"0 ", "40.0 GiB", "sata", "MBR", "disk0.img"}), "") << show.output;
  EXPECT_NE(line_with(show.output, {"1 ", "120.0 GiB", "RAW", "disk1.img"}), "") << show.output;
  EXPECT_NE(line_with(show.output, {"2 ", "8.0 GiB", "usb", "yes", "MBR"}), "") << show.output;
  EXPECT_NE(line_with(show.output, {"C:", "NTFS", "\\Device\\HarddiskVolume1", "\\\\?\\Volume{"}), "") << show.output;
  EXPECT_NE(line_with(show.output, {"D:", "FAT32", "\\Device\\HarddiskVolume2"}), "") << show.output;
  EXPECT_NE(line_with(show.output, {"0x07", "*", "C:"}), "") << show.output;

  // The registry now records the letters.
  std::ifstream reg(dir + "/registry.reg", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(reg)), {});
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += bytes[i];  // UTF-16LE, ASCII content
  EXPECT_NE(text.find("\"\\\\DosDevices\\\\C:\"=hex:01,00,ed,5e,00,00,10,00,00,00,00,00"), std::string::npos) << text;
}

TEST_F(Simpc, DisksAttachDetachAndLog) {
  ASSERT_EQ(simpc("new " + dir).status, 0);
  auto r = simpc("add-disk " + dir + " 0 --size 64M --sector 4096 --bus nvme --model \"Fast One\" --serial N1");
  ASSERT_EQ(r.status, 0) << r.output;
  r = simpc("add-disk " + dir + " 4 --size 16M --bus usb --removable");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string error;
  auto m = platform::machine::Machine::open(dir, &error);
  ASSERT_TRUE(m) << error;
  auto d0 = m->disk(0);
  ASSERT_TRUE(d0);
  EXPECT_EQ(d0->sector_size(), 4096u);
  EXPECT_EQ(d0->size(), 64u << 20);
  EXPECT_EQ(d0->bus(), platform::machine::BusType::Nvme);
  EXPECT_EQ(d0->config().product, "Fast One");
  EXPECT_TRUE(m->disk(4)->is_removable());

  ASSERT_EQ(simpc("detach " + dir + " 4").status, 0);
  auto show = simpc("show " + dir);
  EXPECT_NE(line_with(show.output, {"4 ", "usb", "(detached)"}), "") << show.output;
  auto changes = m->poll();
  EXPECT_EQ(changes.detached, std::vector<int>{4});
  ASSERT_EQ(simpc("attach " + dir + " 4").status, 0);
  EXPECT_EQ(m->poll().attached, std::vector<int>{4});

  m->log("process", "started X:\\setres.exe h1024");
  auto log = simpc("log " + dir);
  EXPECT_EQ(log.status, 0);
  EXPECT_NE(log.output.find("disk: disk 4 detached"), std::string::npos) << log.output;
  EXPECT_NE(log.output.find("process: started X:\\setres.exe h1024"), std::string::npos) << log.output;

  // An image path given on the command line is taken from the caller's folder.
  r = run("cd " + dir + "/.. && " + SIMPC_PATH + " add-disk " + dir + " 5 --size 1M --image ./" +
          fs::path(dir).filename().string() + "-extra.img");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string extra = fs::path(dir).parent_path().string() + "/" + fs::path(dir).filename().string() + "-extra.img";
  EXPECT_TRUE(fs::exists(extra));
  fs::remove(extra);
  // The log stays readable when an image has gone missing.
  EXPECT_NE(simpc("show " + dir).status, 0);
  log = simpc("log " + dir);
  EXPECT_EQ(log.status, 0);
  EXPECT_NE(log.output.find("process: started X:\\setres.exe h1024"), std::string::npos) << log.output;
}

// Many simpc processes attaching and detaching at once, while a reader keeps
// reading machine.ini: no change is lost, the reader never meets half a file,
// and the user's comments stay.
TEST_F(Simpc, ConcurrentAttachDetachLoseNoChange) {
  constexpr int kDisks = 6;
  ASSERT_EQ(simpc("new " + dir).status, 0);
  for (int i = 0; i < kDisks; ++i) ASSERT_EQ(simpc("add-disk " + dir + " " + std::to_string(i) + " --size 1M").status, 0);
  const std::string ini = dir + "/machine.ini";
  auto read_ini = [&] {
    std::ifstream in(ini, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  };
  {
    std::string text = read_ini();
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << "; the bench PC, do not lose this note\n" << text;
  }
  std::atomic<bool> stop{false};
  std::atomic<int> unreadable{0};
  std::string first_problem;
  std::thread reader([&] {
    while (!stop) {
      std::string problem;
      if (!platform::machine::ParseMachineIni(read_ini(), &problem) && unreadable++ == 0) first_problem = problem;
    }
  });
  for (int round = 0; round < 4; ++round) {
    bool attach = round % 2 == 1;
    std::string script = "fail=0; pids=";
    for (int i = 0; i < kDisks; ++i)
      script += "; " + std::string(SIMPC_PATH) + (attach ? " attach " : " detach ") + dir + " " + std::to_string(i) +
                " & pids=\"$pids $!\"";
    script += "; for p in $pids; do wait $p || fail=1; done; exit $fail";
    auto r = run("sh -c '" + script + "'");
    EXPECT_EQ(r.status, 0) << r.output;
    std::string problem;
    auto config = platform::machine::ParseMachineIni(read_ini(), &problem);
    ASSERT_TRUE(config) << problem;
    for (auto& d : config->disks) EXPECT_EQ(d.attached, attach) << "round " << round << ", disk " << d.number;
  }
  stop = true;
  reader.join();
  EXPECT_EQ(unreadable, 0) << first_problem;
  EXPECT_NE(read_ini().find("; the bench PC, do not lose this note"), std::string::npos);
  EXPECT_FALSE(fs::exists(ini + ".new"));
}

TEST_F(Simpc, ClearErrors) {
  ASSERT_EQ(simpc("new " + dir).status, 0);
  ASSERT_EQ(simpc("add-disk " + dir + " 1 --size 1M").status, 0);
  struct Case {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {"", 2, "no command given"},
      {"frobnicate " + dir, 2, "unknown command \"frobnicate\""},
      {"new " + dir, 1, "already holds a machine"},
      {"add-disk " + dir + " 2 --size 8Q", 1, "bad size \"8Q\""},
      {"add-disk " + dir + " 2 --size 0", 1, "bad size \"0\""},
      {"add-disk " + dir + " 2", 1, "no --size was given"},
      {"add-disk " + dir + " 2 --image /nonexistent/dir/x.img", 1, "does not exist and no --size"},
      {"add-disk " + dir + " 2 --device /dev/null", 1, "/dev/null is not a block device"},
      {"add-disk " + dir + " 2 --image /dev/zero", 1, "image /dev/zero is not a regular file"},
      {"add-disk " + dir + " 2 --device /dev/sdzz9", 1, "device /dev/sdzz9 does not exist"},
      {"add-disk " + dir + " 2 --size 1M --sector 1024", 1, "sector size \"1024\""},
      {"add-disk " + dir + " 2 --size 1M --bus floppy", 1, "unknown bus \"floppy\""},
      {"add-disk " + dir + " 1 --size 1M", 1, "disk 1 already exists"},
      {"add-disk " + dir + " 200 --size 1M", 2, "is not 0..99"},
      {"add-disk " + dir + " 2 --size", 2, "--size needs a value"},
      {"add-disk " + dir + " 2 --colour red", 2, "unknown option \"--colour\""},
      {"show " + dir + "/missing", 1, "does not exist"},
      {"attach " + dir + " 7", 1, "disk 7 is not listed"},
  };
  for (auto& c : cases) {
    auto r = simpc(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
  }
  // An image that went missing is named when the machine is opened; the rest
  // of the machine is still shown, and the status says something is wrong.
  ASSERT_EQ(simpc("add-disk " + dir + " 3 --size 2M").status, 0);
  fs::remove(dir + "/disk1.img");
  auto r = simpc("show " + dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("disk 1 is missing: disk 1: image " + dir + "/disk1.img does not exist"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("2.0 MiB"), std::string::npos) << r.output;
  // A folder without a machine is refused and left as it was: no lock file.
  const std::string empty = dir + "/empty";
  fs::create_directories(empty);
  r = simpc("add-disk " + empty + " 0 --size 1M");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("has no machine.ini"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::is_empty(empty)) << "the refused folder gained files";
}

// A machine folder whose machine.ini or registry.reg is a FIFO, a link to
// /dev/zero or a 100 MB file: every command refuses it with a message naming
// the file (`timeout` turns a hang into a failure), a program mounting its
// folder too, and the file stays exactly as it was (type, size, inode and
// time of change: nothing was written or replaced).
TEST_F(Simpc, HostileMachineFolderFilesAreRefusedAndLeftAlone) {
  ASSERT_EQ(simpc("new " + dir).status, 0);
  ASSERT_EQ(simpc("add-disk " + dir + " 0 --size 1M").status, 0);
  ASSERT_EQ(run("cp " + dir + "/machine.ini " + dir + "/machine.good").status, 0);
  ASSERT_EQ(run("printf 'REGEDIT5\\r\\n' > " + dir + "/registry.good").status, 0);
  struct Kind {
    const char* name;
    const char* make;  // shell command with FILE for the path
    const char* message;
  } kinds[] = {
      {"fifo", "mkfifo FILE", "is not a regular file"},
      {"link to /dev/zero", "ln -s /dev/zero FILE", "is not a regular file"},
      {"100 MB file", "cp GOOD FILE && truncate -s 100M FILE", "more than the"},
  };
  for (const char* file : {"machine.ini", "registry.reg"}) {
    const std::string path = dir + "/" + file;
    const std::string good = dir + (std::string(file) == "machine.ini" ? "/machine.good" : "/registry.good");
    for (const Kind& kind : kinds) {
      SCOPED_TRACE(std::string(file) + " as a " + kind.name);
      run("rm -f " + path);
      std::string make = kind.make;
      for (size_t at; (at = make.find("FILE")) != std::string::npos;) make.replace(at, 4, path);
      for (size_t at; (at = make.find("GOOD")) != std::string::npos;) make.replace(at, 4, good);
      ASSERT_EQ(run(make).status, 0) << make;
      const std::string stamp = "stat -c '%F %s %i %Z' " + path;
      const std::string before = run(stamp).output;
      std::vector<std::string> commands = {"show " + dir};
      if (std::string(file) == "machine.ini")
        commands.insert(commands.end(), {"detach " + dir + " 0", "attach " + dir + " 0", "add-disk " + dir + " 5 --size 1M"});
      for (const std::string& command : commands) {
        auto r = run("timeout 20 " + std::string(SIMPC_PATH) + " " + command);
        EXPECT_NE(r.status, 0) << command << "\n" << r.output;
        EXPECT_NE(r.status, 124) << command << " hung";
        EXPECT_NE(r.output.find(file), std::string::npos) << command << "\n" << r.output;
        EXPECT_NE(r.output.find(kind.message), std::string::npos) << command << "\n" << r.output;
      }
      if (std::string(file) == "machine.ini") {
        std::string folder, error;
        EXPECT_FALSE(platform::machine::MountProgramFolder(dir, "Prog", "/tmp", &folder, &error));
        EXPECT_NE(error.find(kind.message), std::string::npos) << error;
      }
      EXPECT_EQ(run(stamp).output, before);
    }
    run("rm -f " + path + " && cp " + good + " " + path);
  }
}
