// Fennick's kit handling beside Debian's tools on the same data:
//
//   udf_extract_1GiB   ours: TryExtractUdfImage of a 1 GiB genisoimage -udf
//                      image (read from a host mount of the simulated PC,
//                      written to another); peer: 7z x -tudf of the same
//                      image into a host folder on the same disk.
//   kit_download_256MiB  ours: the kit page's loop (InternetReadFile in
//                      16 KiB chunks, each written to a file on a host mount)
//                      against the loopback test server; peer: curl -o of
//                      the same URL from the same server.
//
// Targets: each at least 0.8x its peer's rate.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/common/bench_support.h"
#include "net/fixture_http.h"
#include "pebuilder/udf_image.h"
#include "tests/pebuilder/udf_stamp.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/net/wininet.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kTreeBytes = 1ull << 30;
constexpr uint64_t kDownloadBytes = 256ull << 20;

// The simulated PC with two host mounts: I: holds the inputs, T: takes the
// outputs; the network maps the kit host to the loopback server.
struct KitData {
  bench::BenchPc pc;
  bench::ScratchFolder host;
  std::unique_ptr<http_fixture::LoopbackServer> server;
  std::string error;
  uint64_t treeBytes = 0;

  KitData() {
    if (!pc.ok()) {
      error = pc.error();
      return;
    }
    fs::create_directories(host.file("in/tree/Tools"));
    fs::create_directories(host.file("out"));
    // A few large files and many small ones, as the kit's image holds.
    bench::AlignedBuffer chunk(1 << 20, 7);
    for (int i = 0; i < 8 && treeBytes < kTreeBytes; ++i) {
      std::ofstream big(host.file("in/tree/wAIK" + std::to_string(i) + ".cab"), std::ios::binary);
      for (uint64_t n = 0; n < kTreeBytes / 8 - (2 << 20); n += chunk.size())
        big.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
      treeBytes += kTreeBytes / 8 - (2 << 20);
    }
    for (int i = 0; i < 2000; ++i) {
      std::ofstream small(host.file("in/tree/Tools/f" + std::to_string(i) + ".dll"), std::ios::binary);
      small.write(reinterpret_cast<const char*>(chunk.data()) + i, 4096 + i);
      treeBytes += 4096 + static_cast<uint64_t>(i);
    }
    if (bench::RunTool({"genisoimage", "-quiet", "-udf", "-allow-limited-size", "-o", host.file("in/kit.iso"),
                        host.file("in/tree")}) != 0 ||
        !StampUdfImplementation(host.file("in/kit.iso"), "*Microsoft CDIMAGE UDF", &error)) {
      if (error.empty()) error = "genisoimage failed";
      return;
    }
    fs::remove_all(host.file("in/tree"));
    {
      std::ofstream iso(host.file("in/KB3AIK_EN.iso"), std::ios::binary);
      for (uint64_t n = 0; n < kDownloadBytes; n += chunk.size())
        iso.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    }
    server = std::make_unique<http_fixture::LoopbackServer>(host.file("in/KB3AIK_EN.iso"), 10000, 3600);
    if (server->port() == 0) {
      error = "the loopback server did not start";
      return;
    }
    std::ofstream ini(pc.folder() + "/machine.ini", std::ios::app);
    ini << "\n[mount in]\npath = I:\nhost = " << host.file("in") << "\n"
        << "\n[mount out]\npath = T:\nhost = " << host.file("out") << "\n"
        << "\n[network]\ndownload.kit-vendor.example = " << server->endpoint() << "\n";
    ini.close();
    if (!pc.boot()) error = pc.error();
  }

  bool ready(benchmark::State& state) {
    if (!error.empty()) state.SkipWithError(error.c_str());
    return error.empty();
  }
};

class SilentPage : public UdfExtractPage {
 public:
  void SetProgressRange(uint32_t) override {}
  void SetProgressPosition(uint32_t) override {}
  void ShowStatus(LPCWSTR, const CString&) override {}
};

void ExtractOurs(benchmark::State& state) {
  auto& kit = bench::Shared<KitData>();
  if (!kit.ready(state)) return;
  SilentPage page;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(kit.host.file("out/ours"));
    std::string settle;
    bench::SettleFile(kit.host.file("in/kit.iso"), bench::CacheState::Warm, &settle);
    state.ResumeTiming();
    HANDLE image = CreateFileW(u"I:\\kit.iso", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    UdfExtraction result = TryExtractUdfImage(&page, image, u"T:\\ours");
    CloseHandle(image);
    if (result.result != UdfResult::kOk) {
      state.SkipWithError(result.detail.c_str());
      break;
    }
  }
  bench::SetByteRate(state, kit.treeBytes);
}

void ExtractPeer(benchmark::State& state) {
  auto& kit = bench::Shared<KitData>();
  if (!kit.ready(state)) return;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(kit.host.file("out/peer"));
    std::string settle;
    bench::SettleFile(kit.host.file("in/kit.iso"), bench::CacheState::Warm, &settle);
    state.ResumeTiming();
    if (bench::RunTool({"7z", "x", "-y", "-tudf", "-o" + kit.host.file("out/peer"), kit.host.file("in/kit.iso")}) != 0) {
      state.SkipWithError("7z failed");
      break;
    }
  }
  bench::SetByteRate(state, kit.treeBytes);
}

void DownloadOurs(benchmark::State& state) {
  auto& kit = bench::Shared<KitData>();
  if (!kit.ready(state)) return;
  std::vector<char> buffer(16384);
  for (auto _ : state) {
    HINTERNET internet = InternetOpenW(u"HTTPDUMP_DEMO", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connect = InternetConnectW(internet, u"download.kit-vendor.example", 80, nullptr, nullptr,
                                         INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestW(connect, u"GET", u"full/KB3AIK_EN.iso", u"HTTP/1.0", nullptr, nullptr, 0, 0);
    HANDLE file = CreateFileW(u"T:\\KB3AIK_EN.iso", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    uint64_t got = 0;
    if (request && HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
      DWORD n = 0, written = 0;
      while (InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &n) && n) {
        WriteFile(file, buffer.data(), n, &written, nullptr);
        got += n;
      }
    }
    CloseHandle(file);
    for (HINTERNET h : {request, connect, internet})
      if (h) InternetCloseHandle(h);
    if (got != kDownloadBytes) {
      state.SkipWithError("the download came up short");
      break;
    }
  }
  bench::SetByteRate(state, kDownloadBytes);
}

void DownloadPeer(benchmark::State& state) {
  auto& kit = bench::Shared<KitData>();
  if (!kit.ready(state)) return;
  std::string url = "http://" + kit.server->endpoint() + "/full/KB3AIK_EN.iso";
  for (auto _ : state) {
    if (bench::RunTool({"curl", "-s", "-f", "-o", kit.host.file("out/peer.iso"), url}) != 0) {
      state.SkipWithError("curl failed");
      break;
    }
  }
  bench::SetByteRate(state, kDownloadBytes);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("udf_extract_1GiB", "ours:TryExtractUdfImage", ExtractOurs)->Iterations(2);
  bench::Register("udf_extract_1GiB", "peer:7z", ExtractPeer)->Iterations(2);
  bench::Register("kit_download_256MiB", "ours:InternetReadFile", DownloadOurs)->Iterations(3);
  bench::Register("kit_download_256MiB", "peer:curl", DownloadPeer)->Iterations(3);
  bench::SetTargetVsPeer("udf_extract_1GiB", 1.0);
  bench::SetPeerCommand("udf_extract_1GiB", "peer:7z", "7z x -y -tudf -oFOLDER KIT.iso");
  bench::SetPeerCommand("kit_download_256MiB", "peer:curl", "curl -s -f -o FILE http://127.0.0.1:PORT/full/KIT.iso");
  bench::SetTargetVsPeer("kit_download_256MiB", 0.8);
  return bench::Main(argc, argv);
}
