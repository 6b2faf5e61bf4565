// The restore of a zlib-compressed partition item beside its peer:
//
//   zlib_partition_restore_1GiB   ours: RestoreDiskItem of a 1 GiB partition
//                                 item (zlib blocks of 63 sectors) onto a disk
//                                 of a simulated PC, written through the disk
//                                 handle; peer: zlib-flate -uncompress of one
//                                 zlib stream of the same bytes piped into
//                                 dd oflag=direct onto a host file.
//
// Target: ours at least 0.8x the peer's rate. The counter rss_growth_KiB is
// how much the process's peak resident set grew during our restore: it
// stays flat as the archive grows (blocks are read and decoded one at a
// time). DRUM_BENCH_RESTORE_MIB sets the size (default 1024).
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/common/bench_support.h"
#include "platform/core/text.h"
#include "restore/restore_engine.h"
#include "tools/archive_writer/archive_writer.h"
#include "tests/support/host_archive_files.h"

namespace {

constexpr int64_t kStartSector = 2048;

int64_t size_mib() {
  const char* v = std::getenv("DRUM_BENCH_RESTORE_MIB");
  const long long n = v ? std::atoll(v) : 1024;
  return n > 0 ? n : 1024;
}

long peak_rss_kib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Fixture {
  bench::BenchPc pc;
  bench::ScratchFolder host;
  std::string archive, stream, peer_image, error;
  int64_t bytes = size_mib() << 20;
  Fixture() {
    // The partition's bytes: runs and text-like noise, about 3:1 under zlib.
    const std::string source = host.file("partition.img");
    {
      std::ofstream out(source, std::ios::binary);
      std::string chunk(1 << 20, 0);
      uint32_t x = 12345;
      for (int64_t done = 0; done < bytes; done += static_cast<int64_t>(chunk.size())) {
        for (size_t i = 0; i < chunk.size(); ++i) {
          x = x * 1103515245 + 12345;
          chunk[i] = (i / 4096) % 2 ? static_cast<char>('a' + (x >> 16) % 16) : static_cast<char>(i / 4096);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      }
    }
    archive_writer::DiskEntry d;
    d.record.kind = 2;
    d.record.partition_type = 7;
    d.record.first_sector = static_cast<int32_t>(kStartSector);
    d.record.sectors_per_unit = 16065;
    d.record.full_units = static_cast<int32_t>(bytes / 512 / 16065);
    d.record.last_unit_sectors = static_cast<int32_t>(bytes / 512 % 16065);
    d.source_path = source;
    archive_writer::Options o;
    o.name = "Bench";
    o.compression = restore::Compression::Zlib;
    archive_writer::Written w;
    if (!archive_writer::Write(o, {}, {}, {d}, host.path(), w, error)) return;
    archive = w.files[0];
    stream = host.file("partition.z");
    if (bench::RunTool({"sh", "-c", "zlib-flate -compress < '" + source + "'"}, stream) != 0) {
      error = "zlib-flate -compress failed";
      return;
    }
    peer_image = host.file("peer.img");
    bench::RunTool({"truncate", "-s", std::to_string(bytes), peer_image});
    std::string e;
    bench::AllocateFile(peer_image, &e);
    std::remove(source.c_str());
    if (!pc.ok() || !pc.add_disk(1, static_cast<uint64_t>(bytes) + (64 << 20)) || !pc.boot()) {
      error = "the simulated PC could not be made: " + pc.error();
      return;
    }
    bench::AllocateFile(pc.image(1), &e);
  }
  bool ready(benchmark::State& state) {
    if (!error.empty()) state.SkipWithError(error.c_str());
    return error.empty();
  }
};

void Ours(benchmark::State& state) {
  auto& f = bench::Shared<Fixture>();
  if (!f.ready(state)) return;
  long growth = 0;
  for (auto _ : state) {
    test_support::HostArchiveFiles io;
    restore::ArchiveSession session(io);
    if (session.ReadCatalog(platform::to_utf16(f.archive), 0) != restore::ArchiveResult::Ok ||
        session.OpenArchiveChain(nullptr) != restore::ArchiveResult::Ok) {
      state.SkipWithError(session.error_detail().c_str());
      break;
    }
    session.set_member_count(1);
    restore::RestoreReport report;
    const long before = peak_rss_kib();
    if (!restore::RestoreDiskItem(session, 1, restore::DiskTarget{.disk = 1, .start_sector = kStartSector}, {},
                                  report)) {
      state.SkipWithError(report.errors.empty() ? "the restore failed" : report.errors[0].c_str());
      break;
    }
    growth = std::max(growth, peak_rss_kib() - before);
  }
  bench::SetByteRate(state, static_cast<uint64_t>(f.bytes));
  state.counters["rss_growth_KiB"] = static_cast<double>(growth);
}

void Peer(benchmark::State& state) {
  auto& f = bench::Shared<Fixture>();
  if (!f.ready(state)) return;
  for (auto _ : state) {
    if (bench::RunTool({"sh", "-c",
                        "zlib-flate -uncompress < '" + f.stream + "' | dd of='" + f.peer_image +
                            "' bs=1M iflag=fullblock oflag=direct conv=notrunc status=none"}) != 0) {
      state.SkipWithError("zlib-flate | dd failed");
      break;
    }
  }
  bench::SetByteRate(state, static_cast<uint64_t>(f.bytes));
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("zlib_partition_restore_1GiB", "ours:RestoreDiskItem", Ours)->Iterations(2);
  bench::Register("zlib_partition_restore_1GiB", "peer:zlib-flate|dd", Peer)->Iterations(2);
  bench::SetTargetVsPeer("zlib_partition_restore_1GiB", 1.0);
  bench::SetPeerCommand("zlib_partition_restore_1GiB", "peer:zlib-flate|dd",
                        "zlib-flate -uncompress < STREAM | dd of=IMAGE bs=1M iflag=fullblock oflag=direct conv=notrunc");
  bench::InterleaveRunsByDefault();
  return bench::Main(argc, argv);
}
