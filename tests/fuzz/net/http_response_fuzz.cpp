// An HTTP server's answer from untrusted bytes, read through the PC's WinINet
// calls as the kit download reads one: a server on the loopback sends the
// input as its whole answer and closes. Status and length queries answer or
// fail cleanly, the body reads to its end (never more bytes than the server
// sent), and a seek answers or fails; nothing waits for long (the server
// always closes).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/core/kobject.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/net/wininet.h"

namespace {

int listener = -1;
int port = 0;
std::atomic<bool> accepted{false};

bool Prepare() {
  listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return false;
  port = ntohs(address.sin_port);
  char dir[] = "/tmp/http_response_fuzz_XXXXXX";
  if (!mkdtemp(dir)) return false;
  const std::string machine = std::string(dir) + "/pc";
  std::string error;
  if (!platform::machine::CreateMachineFolder(machine, &error)) return false;
  std::ofstream(machine + "/machine.ini", std::ios::app)
      << "\n[network]\nkit.example = 127.0.0.1:" << port << "\n";
  return platform::machine::OpenMachine(machine, &error);
}

// Answers one connection with `answer` after reading what the client sent.
void Serve(const std::string& answer) {
  int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  accepted = true;
  if (client < 0) return;
  timeval wait{1, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  char request[4096];
  (void)!recv(client, request, sizeof request, 0);
  for (size_t at = 0; at < answer.size();) {
    ssize_t n = send(client, answer.data() + at, answer.size() - at, MSG_NOSIGNAL);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  close(client);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Prepare();
  if (!ready) std::abort();
  const std::string answer(reinterpret_cast<const char*>(data), size);
  accepted = false;
  std::thread server(Serve, answer);
  HINTERNET internet = InternetOpenW(u"fuzz", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET session = InternetConnectW(internet, u"kit.example", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestW(session, u"GET", u"kit/setup.msi", nullptr, nullptr, nullptr, 0, 0);
  if (request && HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
    DWORD status = 0, length = sizeof status;
    HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr);
    char16_t text[32];
    DWORD text_length = sizeof text;
    HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &text_length, nullptr);
    uint64_t total = 0;
    char buffer[8192];
    DWORD got = 0;
    while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0) total += got;
    if (total > size) std::abort();  // more body than the server sent
    InternetSetFilePointer(request, 0, nullptr, FILE_BEGIN, 0);
  }
  if (request) InternetCloseHandle(request);
  if (session) InternetCloseHandle(session);
  if (internet) InternetCloseHandle(internet);
  // A request that never reached the server leaves it waiting: reach it once.
  if (!accepted) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (s >= 0) {
      (void)!connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
      close(s);
    }
  }
  server.join();
  return 0;
}
