#include "bench/common/bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/core/clock.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"
#include "tests/support/sparse_copy.h"

extern char** environ;

namespace bench {

long CurrentRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// ---- host helpers ----------------------------------------------------------

namespace {

constexpr uint64_t kMiB = 1ull << 20;

// Scratch folders still in use, for the interrupt handler: the images in them
// are hundreds of MiB of real blocks that an interrupted run must not leave.
// Fixed slots, so the handler reads them without allocating.
constexpr int kScratchSlots = 8;
constexpr size_t kScratchPathMax = 512;
char g_scratch[kScratchSlots][kScratchPathMax];

void RememberScratch(const std::string& path) {
  if (path.size() >= kScratchPathMax) return;
  for (auto& slot : g_scratch)
    if (!slot[0]) {
      std::memcpy(slot, path.c_str(), path.size() + 1);
      return;
    }
}

void ForgetScratch(const std::string& path) {
  for (auto& slot : g_scratch)
    if (path == slot) slot[0] = 0;
}

// Removes the scratch folders with rm (fork and exec are safe in a handler),
// then dies of the same signal.
void OnInterrupt(int sig) {
  for (auto& slot : g_scratch) {
    if (!slot[0]) continue;
    pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/rm", "rm", "-rf", "--", slot, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

ScratchFolder::ScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/drum-bench-XXXXXX";
  if (mkdtemp(pattern.data())) path_ = pattern;
  RememberScratch(path_);
}

ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  ForgetScratch(path_);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int RunTool(const std::vector<std::string>& argv, const std::string& stdout_path) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WriteHostFile(const std::string& path, const void* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, p + done, size - done);
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0;
}

bool CopySparse(const std::string& from, const std::string& to, std::string* error) {
  if (RunTool({"cp", "--sparse=always", from, to}) == 0) return true;
  *error = "cannot copy " + from + " to " + to;
  return false;
}

bool AllocateFile(const std::string& path, std::string* error) {
  // Zeros written into every hole: the blocks become real, the data stays.
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  const off_t end = ::lseek(fd, 0, SEEK_END);
  std::vector<uint8_t> zeros(kMiB, 0);
  bool ok = end >= 0;
  for (off_t at = 0; ok && at < end;) {
    off_t hole = ::lseek(fd, at, SEEK_HOLE);
    if (hole < 0 || hole >= end) break;
    off_t data = ::lseek(fd, hole, SEEK_DATA);
    if (data < 0) data = end;  // ENXIO: a hole up to the end
    for (off_t p = hole; p < data;) {
      size_t n = static_cast<size_t>(std::min<off_t>(data - p, static_cast<off_t>(zeros.size())));
      ssize_t w = ::pwrite(fd, zeros.data(), n, p);
      if (w <= 0) {
        ok = false;
        break;
      }
      p += w;
    }
    at = data;
  }
  if (ok) ok = ::fdatasync(fd) == 0;
  ::close(fd);
  if (!ok) *error = "cannot fill the holes of " + path;
  return ok;
}

bool SettleFile(const std::string& path, CacheState state, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = ::fdatasync(fd) == 0;
  // Only clean pages can be dropped, hence the write-back first.
  if (ok && state == CacheState::Cold) ok = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  ::close(fd);
  if (!ok) *error = "cannot write back or drop the cached pages of " + path;
  return ok;
}

AlignedBuffer::AlignedBuffer(size_t size, uint32_t seed) : size_(size) {
  void* raw = nullptr;
  if (posix_memalign(&raw, 4096, size ? size : 1) != 0) return;
  data_.reset(static_cast<uint8_t*>(raw));
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data_.get()[i] = static_cast<uint8_t>(x);
  }
}

// ---- the simulated PC ------------------------------------------------------

BenchPc::BenchPc() {
  if (scratch_.path().empty()) {
    fail("cannot make a scratch folder under $TMPDIR or /tmp");
    return;
  }
  folder_ = scratch_.file("pc");
  std::string error;
  if (!platform::machine::CreateMachineFolder(folder_, &error)) {
    fail(error);
    return;
  }
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
  platform::storage::ResetMountManager();
}

BenchPc::~BenchPc() {
  platform::fs::ReleaseAllDrivers();
  platform::storage::ResetMountManager();
  platform::machine::SetCurrent(nullptr);
  platform::registry::CloseLiveRegistry();
}

bool BenchPc::fail(const std::string& message) {
  if (error_.empty()) error_ = message;
  return false;
}

std::string BenchPc::image(int disk) const { return folder_ + "/disk" + std::to_string(disk) + ".img"; }

bool BenchPc::add_disk(int disk, uint64_t size, uint32_t sector_size) {
  if (!ok()) return false;
  platform::machine::DiskConfig d;
  d.number = disk;
  d.image = image(disk);
  d.size = size;
  d.sector_size = sector_size;
  d.vendor = "ACME";
  d.product = "Bench Disk";
  d.serial = "BENCH" + std::to_string(disk);
  std::string error;
  if (!platform::machine::AddDiskToMachine(folder_, d, &error)) return fail(error);
  sector_sizes_.emplace_back(disk, sector_size);
  return true;
}

bool BenchPc::add_volume(int disk, uint64_t offset, uint64_t length, FileSystem fs) {
  if (!ok()) return false;
  uint32_t sector = 0;
  for (auto& [n, s] : sector_sizes_)
    if (n == disk) sector = s;
  if (sector != 512) return fail("volumes are made on listed disks of 512-byte sectors only");
  if (offset % kMiB || length % kMiB) return fail("a volume starts and ends on a MiB boundary");
  const std::string img = image(disk);
  const bool fat = fs == FileSystem::Fat32;
  std::string error;
  if (!platform::machine::WriteSinglePartitionMbr(img, sector, 0xBE7C0000u + disk, fat ? 0x0C : 0x07, true, offset,
                                                  length, &error))
    return fail(error);
  const std::string start = std::to_string(offset / sector);
  if (fat) {
    // 4 KiB clusters, the usual size for a FAT32 volume of a few hundred MiB.
    if (!platform::machine::RunHostTool({"mkfs.fat", "-F", "32", "-s", "8", "-S", "512", "-n", "BENCH", "-i",
                                         "BE7C0001", "-h", start, "--offset=" + start, img,
                                         std::to_string(length / 1024)},
                                        nullptr, &error))
      return fail(error);
    return true;
  }
  // mkntfs cannot write at an offset: it formats a scratch file of the
  // volume's size, whose bytes are then copied into the image, holes kept.
  const std::string temp = scratch_.file("volume.tmp");
  std::error_code ec;
  {
    std::ofstream(temp, std::ios::binary | std::ios::trunc);
  }
  std::filesystem::resize_file(temp, length, ec);
  if (ec) return fail("cannot make " + temp + ": " + ec.message());
  // Only the extents mkntfs wrote are read: a terabyte volume holds a few MiB.
  bool made = platform::machine::RunHostTool({"mkntfs", "-F", "-f", "-q", "-L", "BENCH", "-s", "512", "-c", "4096",
                                              "-p", start, "-H", "255", "-S", "63", temp},
                                             nullptr, &error);
  if (made && !test_support::PlaceSparse(temp, img, offset)) {
    made = false;
    error = "cannot copy the new volume into " + img;
  }
  std::filesystem::remove(temp, ec);
  return made ? true : fail(error);
}

bool BenchPc::boot() {
  if (!ok()) return false;
  std::string error;
  if (!platform::machine::OpenMachine(folder_, &error)) return fail(error);
  platform::storage::RescanAll();
  return true;
}

WCHAR BenchPc::letter_of(int disk) {
  for (const auto& v : platform::storage::MountedVolumes())
    if (v.disk_number == disk && v.letter) return v.letter;
  fail("no volume of disk " + std::to_string(disk) + " has a drive letter");
  return 0;
}

// ---- counters and the report -----------------------------------------------

void SetByteRate(benchmark::State& state, uint64_t bytes_per_iteration) {
  state.counters["bytes"] = benchmark::Counter(static_cast<double>(bytes_per_iteration) * state.iterations(),
                                               benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
}

void SetFileRate(benchmark::State& state, uint64_t files_per_iteration) {
  state.counters["files"] =
      benchmark::Counter(static_cast<double>(files_per_iteration) * state.iterations(), benchmark::Counter::kIsRate);
}

namespace {

// Every (work, side) in the order registered: the closing table keeps that
// order whatever order the runs came in.
std::vector<std::pair<std::string, std::string>>& Registrations() {
  static std::vector<std::pair<std::string, std::string>> registrations;
  return registrations;
}

// The place of the first registration of `work` (and `side`, unless empty).
size_t RegistrationOrder(const std::string& work, const std::string& side) {
  const auto& all = Registrations();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].first == work && (side.empty() || all[i].second == side)) return i;
  return all.size();
}

bool g_interleave = false;

// "WORK/SIDE" registered and remembered for the closing table, in milliseconds.
benchmark::internal::Benchmark* RegisterSide(const std::string& work, const std::string& side,
                                             std::function<void(benchmark::State&)> body) {
  Registrations().emplace_back(work, side);
  return benchmark::RegisterBenchmark((work + "/" + side).c_str(), [body](benchmark::State& state) { body(state); })
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

void InterleaveRunsByDefault() { g_interleave = true; }

benchmark::internal::Benchmark* Register(const std::string& work, const std::string& side,
                                         std::function<void(benchmark::State&)> body) {
  return RegisterSide(work, side, std::move(body))->UseRealTime();
}

benchmark::internal::Benchmark* RegisterManualTime(const std::string& work, const std::string& side,
                                                   std::function<void(benchmark::State&)> body) {
  return RegisterSide(work, side, std::move(body))->UseManualTime();
}

namespace {

// A work item's goal: a least ratio to its peer, or a least rate of its own.
struct Target {
  double vs_peer = 0;
  double rate = 0;
};

std::vector<std::pair<std::string, Target>>& Targets() {
  static std::vector<std::pair<std::string, Target>> targets;
  return targets;
}

Target& TargetOf(const std::string& work) {
  for (auto& [name, target] : Targets())
    if (name == work) return target;
  return Targets().emplace_back(work, Target{}).second;
}

}  // namespace

void SetTargetVsPeer(const std::string& work, double ratio) { TargetOf(work).vs_peer = ratio; }
void SetTargetRate(const std::string& work, double rate) { TargetOf(work).rate = rate; }

namespace {

// (work, side) -> the peer's command line.
std::vector<std::pair<std::pair<std::string, std::string>, std::string>>& PeerCommands() {
  static std::vector<std::pair<std::pair<std::string, std::string>, std::string>> commands;
  return commands;
}

std::string PeerCommandOf(const std::string& work, const std::string& side) {
  for (const auto& [key, command] : PeerCommands())
    if (key.first == work && key.second == side) return command;
  return "";
}

}  // namespace

void SetPeerCommand(const std::string& work, const std::string& side, const std::string& command) {
  PeerCommands().push_back({{work, side}, command});
}

namespace {

// One row of the closing table: a side of a work item, its rate averaged over
// its runs (the median when repetitions were asked for).
struct Row {
  std::string side;
  std::string unit;
  double rate_sum = 0;
  int runs = 0;
  double median = NAN;
  std::string error;
  double rate() const { return !std::isnan(median) ? median : runs ? rate_sum / runs : NAN; }
  bool is_peer() const { return side.rfind("peer:", 0) == 0; }
  bool has_rate() const { return error.empty() && !std::isnan(rate()); }
};

// A work item: the name as registered (`base`), plus "/ARGS" when the
// benchmark takes arguments (`name`).
struct Work {
  std::string name;
  std::string base;
  std::vector<Row> rows;
  Row& row(const std::string& side) {
    for (auto& r : rows)
      if (r.side == side) return r;
    Row row;
    row.side = side;
    rows.push_back(row);
    return rows.back();
  }
};

// The rate of a run: its first rate counter ("bytes" in MiB/s, else the
// counter's own name per second); for a memory row, which has none, its
// peak resident set ("peak_rss_MiB").
bool RateOf(const benchmark::BenchmarkReporter::Run& run, double* rate, std::string* unit) {
  auto bytes = run.counters.find("bytes");
  if (bytes != run.counters.end()) {
    *rate = bytes->second.value / kMiB;
    *unit = "MiB/s";
    return true;
  }
  for (const auto& [name, counter] : run.counters) {
    if (counter.flags & benchmark::Counter::kIsRate) {
      *rate = counter.value;
      *unit = name == "items_per_second" ? "items/s" : name + "/s";
      return true;
    }
  }
  auto peak = run.counters.find("peak_rss_MiB");
  if (peak != run.counters.end()) {
    *rate = peak->second.value;
    *unit = "MiB peak";
    return true;
  }
  return false;
}

std::string RateText(double value, const std::string& unit) {
  char text[64];
  if (value >= 1e6)
    std::snprintf(text, sizeof text, "%.2fM %s", value / 1e6, unit.c_str());
  else if (value >= 1e4)
    std::snprintf(text, sizeof text, "%.1fk %s", value / 1e3, unit.c_str());
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, unit.c_str());
  return text;
}

class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so logs and pipes get plain text.
  SideBySideReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      std::string name = run.run_name.function_name;
      auto slash = name.rfind('/');
      std::string base = slash == std::string::npos ? name : name.substr(0, slash);
      std::string side = slash == std::string::npos ? "ours" : name.substr(slash + 1);
      std::string work = run.run_name.args.empty() ? base : base + "/" + run.run_name.args;
      Row& row = find(work, base).row(side);
      if (run.error_occurred) {
        failed_ = true;
        row.error = run.error_message;
        continue;
      }
      double rate = 0;
      std::string unit;
      if (!RateOf(run, &rate, &unit)) continue;
      row.unit = unit;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") row.median = rate;
      } else {
        row.rate_sum += rate;
        row.runs++;
      }
    }
  }

  void Finalize() override {
    benchmark::ConsoleReporter::Finalize();
    if (works_.empty()) return;  // the filter matched nothing here
    std::string table = Table();
    GetOutputStream() << "\n" << table << std::flush;
    if (const char* path = std::getenv("DRUM_BENCH_TABLE"); path && *path) std::ofstream(path, std::ios::app) << table;
    if (const char* path = std::getenv("DRUM_BENCH_ROWS"); path && *path) std::ofstream(path, std::ios::app) << Rows();
  }

  bool failed() const { return failed_; }

 private:
  Work& find(const std::string& name, const std::string& base) {
    for (auto& w : works_)
      if (w.name == name) return w;
    works_.push_back(Work{name, base, {}});
    return works_.back();
  }

  // "met (>= 0.90x)", "MISSED (>= 1.00M items/s)", or empty when the work
  // has no target of that kind or the row has nothing to hold to it.
  static std::string Verdict(const Work& w, const Row& r, const Row* peer) {
    const Target* target = nullptr;
    for (const auto& [name, t] : Targets())
      if (name == w.base) target = &t;
    if (!target || r.is_peer() || !r.has_rate()) return "";
    char text[96];
    if (target->vs_peer > 0) {
      if (!peer || peer->unit != r.unit || !(peer->rate() > 0)) return "no peer to compare";
      const bool met = r.rate() >= target->vs_peer * peer->rate();
      std::snprintf(text, sizeof text, "%s (>= %.2fx)", met ? "met" : "MISSED", target->vs_peer);
      return text;
    }
    if (target->rate > 0) {
      const bool met = r.rate() >= target->rate;
      std::snprintf(text, sizeof text, "%s (>= %s)", met ? "met" : "MISSED", RateText(target->rate, r.unit).c_str());
      return text;
    }
    return "";
  }

  // Works and their rows in the order registered, so the first peer is the
  // one each work names first.
  std::vector<Work> SortedWorks() const {
    std::vector<Work> works = works_;
    std::stable_sort(works.begin(), works.end(), [](const Work& a, const Work& b) {
      return RegistrationOrder(a.base, "") < RegistrationOrder(b.base, "");
    });
    for (auto& w : works)
      std::stable_sort(w.rows.begin(), w.rows.end(), [&w](const Row& a, const Row& b) {
        return RegistrationOrder(w.base, a.side) < RegistrationOrder(w.base, b.side);
      });
    return works;
  }

  // The first peer with a rate: the one the work is measured against.
  static const Row* PeerOf(const Work& w) {
    for (const auto& r : w.rows)
      if (r.is_peer() && r.has_rate()) return &r;
    return nullptr;
  }

  std::string Table() const {
    const std::vector<Work> works = SortedWorks();
    std::ostringstream out;
    char line[512];
    std::snprintf(line, sizeof line, "%-34s %-30s %14s %9s  %s\n", "work", "side", "rate", "vs peer", "target");
    out << line;
    for (const auto& w : works) {
      const Row* peer = PeerOf(w);
      bool first = true;
      for (const auto& r : w.rows) {
        std::string rate = "-", ratio;
        if (!r.error.empty()) {
          rate = "failed";
          ratio = r.error;
        } else if (!std::isnan(r.rate())) {
          rate = RateText(r.rate(), r.unit);
          if (r.is_peer()) {
            ratio = &r == peer ? "(peer)" : "(extra)";
          } else if (peer && peer->rate() > 0 && peer->unit == r.unit) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2fx", r.rate() / peer->rate());
            ratio = text;
          } else {
            ratio = "(no peer)";
          }
        }
        std::snprintf(line, sizeof line, "%-34s %-30s %14s %9s  %s\n", first ? w.name.c_str() : "", r.side.c_str(),
                      rate.c_str(), ratio.c_str(), Verdict(w, r, peer).c_str());
        out << line;
        first = false;
      }
    }
    // The peers' commands, so that anyone can run the other side by hand.
    bool heading = false;
    for (const auto& w : works)
      for (const auto& r : w.rows) {
        const std::string command = r.is_peer() ? PeerCommandOf(w.base, r.side) : "";
        if (command.empty()) continue;
        if (!heading) out << "peer commands:\n";
        heading = true;
        out << "  " << w.name << " " << r.side << ": " << command << "\n";
      }
    return out.str();
  }

  // The rows for $DRUM_BENCH_ROWS (see Main).
  std::string Rows() const {
    std::ostringstream out;
    for (const auto& w : SortedWorks()) {
      const Row* peer = PeerOf(w);
      for (const auto& r : w.rows) {
        std::string rate = "-", unit = "-", ratio = "-", verdict = Verdict(w, r, peer);
        if (!r.error.empty()) {
          rate = "failed";
        } else if (!std::isnan(r.rate())) {
          char text[64];
          std::snprintf(text, sizeof text, "%.1f", r.rate());
          rate = text;
          unit = r.unit;
          if (r.is_peer()) {
            ratio = &r == peer ? "peer" : "extra";
          } else if (peer && peer->rate() > 0 && peer->unit == r.unit) {
            std::snprintf(text, sizeof text, "%.2fx", r.rate() / peer->rate());
            ratio = text;
          }
        }
        const std::string command = r.is_peer() ? PeerCommandOf(w.base, r.side) : "";
        out << w.name << '\t' << r.side << '\t' << rate << '\t' << unit << '\t' << ratio << '\t'
            << (verdict.empty() ? "-" : verdict) << '\t' << (command.empty() ? "-" : command) << '\n';
      }
    }
    return out.str();
  }

  std::vector<Work> works_;
  bool failed_ = false;
};

std::vector<std::function<void()>>& Finishers() {
  static std::vector<std::function<void()>> finishers;
  return finishers;
}

}  // namespace

void DestroyAtFinish(std::function<void()> destroy) { Finishers().push_back(std::move(destroy)); }

int Main(int argc, char** argv) {
  // The interleaving flag goes first, so one given on the command line wins.
  std::vector<char*> args(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  if (g_interleave) args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave);
  args.push_back(nullptr);
  argc = static_cast<int>(args.size()) - 1;
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, OnInterrupt);
  SideBySideReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (auto it = Finishers().rbegin(); it != Finishers().rend(); ++it) (*it)();
  Finishers().clear();
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}

}  // namespace bench
