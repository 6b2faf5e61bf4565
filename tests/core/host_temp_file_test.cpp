// Host scratch files never outlive their process: an unnamed one leaves no
// entry in its folder from the start (ls), is reached through its path by
// this process and by a program it starts (cat), and is gone with a process
// killed by SIGKILL; a named one carries its process id and is swept at the
// next start once that process has ended, while one of a live process stays.
#include "platform/core/host_temp_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/drum-tempfile-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::string path_;
};

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[256];
  while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  pclose(p);
  return out;
}

// Scratch files are new, empty, the owner's alone, and made on the chosen
// folder's file system: unnamed ones leave no entry there, named ones are
// named after the prefix and the process. A folder that does not exist
// makes none and leaves the path alone.
TEST(HostTempFile, NewPrivateFilesInTheChosenFolder) {
  namespace fs = std::filesystem;
  const std::string folder = ::testing::TempDir() + "host-temp-test";
  fs::remove_all(folder);
  fs::create_directories(folder);
  struct stat where {};
  ASSERT_EQ(stat(folder.c_str(), &where), 0);
  std::string first, second, named;
  const int a = platform::CreateHostTempFile("drum-scratch", &first, folder);
  const int b = platform::CreateHostTempFile("drum-scratch", &second, folder);
  const int c = platform::CreateNamedHostTempFile("drum-scratch", &named, folder);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_GE(c, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(fs::path(named).parent_path(), fs::path(folder));
  EXPECT_EQ(fs::path(named).filename().string().rfind("drum-scratch-p" + std::to_string(getpid()) + "-", 0), 0u)
      << named;
  for (int fd : {a, b, c}) {
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "only the owner may read a copied hive";
    EXPECT_EQ(st.st_dev, where.st_dev) << "made elsewhere than the chosen folder";
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "only the named one";
  EXPECT_EQ(write(a, "x", 1), 1);
  platform::ReleaseHostTempFile(first, a);
  platform::ReleaseHostTempFile(second, b);
  platform::ReleaseHostTempFile(named, c);
  EXPECT_TRUE(fs::is_empty(folder));

  std::string untouched = "kept";
  EXPECT_LT(platform::CreateHostTempFile("drum-scratch", &untouched, folder + "/missing"), 0);
  EXPECT_LT(platform::CreateNamedHostTempFile("drum-scratch", &untouched, folder + "/missing"), 0);
  EXPECT_EQ(untouched, "kept");
  fs::remove_all(folder);
}

TEST(HostTempFile, DefaultFolderFollowsTmpdir) {
  const char* saved = getenv("TMPDIR");
  const std::string restore = saved ? saved : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(platform::HostTempFolder(), "/var/tmp");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(platform::HostTempFolder(), "/tmp");
  unsetenv("TMPDIR");
  EXPECT_EQ(platform::HostTempFolder(), "/tmp");
  if (saved) setenv("TMPDIR", restore.c_str(), 1);
}

TEST(HostTempFile, AnUnnamedFileHasNoEntryAndIsReachedByItsPath) {
  ScratchFolder folder;
  ASSERT_FALSE(folder.path().empty());
  std::string path;
  const int fd = platform::CreateHostTempFile("drum-format", &path, folder.path());
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(folder.Entries().empty()) << folder.Entries()[0];
  ASSERT_EQ(write(fd, "scratch bytes", 13), 13);
  std::ifstream in(path);
  std::string seen;
  std::getline(in, seen);
  EXPECT_EQ(seen, "scratch bytes");
  // A tool started by the process opens it by the same path.
  EXPECT_EQ(Output("cat '" + path + "'"), "scratch bytes");
  // Written through the path, read through the descriptor.
  std::ofstream(path, std::ios::app) << "!";
  char back[14] = {};
  EXPECT_EQ(pread(fd, back, 14, 0), 14);
  EXPECT_EQ(std::string(back, 14), "scratch bytes!");
  platform::ReleaseHostTempFile(path, fd);
  EXPECT_TRUE(folder.Entries().empty());
  EXPECT_FALSE(std::ifstream(path).good()) << "the descriptor is still open";
}

TEST(HostTempFile, AKilledProcessLeavesNothingUnnamedBehind) {
  ScratchFolder folder;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string path;
    const int fd = platform::CreateHostTempFile("drum-shadow", &path, folder.path());
    std::vector<char> bytes(1 << 20, 'x');
    const bool wrote = fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    const char answer = wrote ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  EXPECT_EQ(answer, 'y');
  EXPECT_TRUE(folder.Entries().empty()) << "while the process lives";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(folder.Entries().empty()) << "after SIGKILL";
}

TEST(HostTempFile, NamedFilesOfEndedProcessesAreSweptOthersKept) {
  ScratchFolder folder;
  // One of a process that ended without cleaning up (and what a tool made
  // beside it), one of a process that still runs, and this process's own.
  const pid_t ended = fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) {
    std::string path;
    if (platform::CreateNamedHostTempFile("drum-hive", &path, folder.path()) < 0) _exit(1);
    std::ofstream(path + ".commit") << "half";
    _exit(0);
  }
  waitpid(ended, nullptr, 0);
  const pid_t alive = fork();
  ASSERT_GE(alive, 0);
  if (alive == 0) {
    std::string path;
    platform::CreateNamedHostTempFile("drum-bcd", &path, folder.path());
    pause();
    _exit(0);
  }
  std::string own;
  ASSERT_GE(platform::CreateNamedHostTempFile("drum-hive", &own, folder.path()), 0);
  std::string work;
  ASSERT_TRUE(platform::CreateNamedHostTempFolder("drum-oscdimg", &work, folder.path()));
  std::ofstream(work + "/image.iso") << "iso";
  std::ofstream(folder.path() + "/drum-notes.txt") << "not a scratch file";
  for (int i = 0; i < 100 && folder.Entries().size() < 6; ++i) usleep(10000);
  ASSERT_EQ(folder.Entries().size(), 6u);
  EXPECT_NE(own.find("-p" + std::to_string(getpid()) + "-"), std::string::npos) << own;

  platform::SweepHostTempFiles(folder.path());
  std::vector<std::string> left = folder.Entries();
  std::sort(left.begin(), left.end());
  ASSERT_EQ(left.size(), 4u);
  EXPECT_EQ(left[0].rfind("drum-bcd-p" + std::to_string(alive) + "-", 0), 0u) << left[0];
  EXPECT_EQ(left[1].rfind("drum-hive-p" + std::to_string(getpid()) + "-", 0), 0u) << left[1];
  EXPECT_EQ(left[2], "drum-notes.txt");
  EXPECT_EQ(left[3].rfind("drum-oscdimg-p" + std::to_string(getpid()) + "-", 0), 0u) << left[3];

  kill(alive, SIGKILL);
  waitpid(alive, nullptr, 0);
  platform::SweepHostTempFiles(folder.path());
  EXPECT_EQ(folder.Entries().size(), 3u);
  platform::ReleaseHostTempFile(own);
  fs::remove_all(work);
}

}  // namespace
