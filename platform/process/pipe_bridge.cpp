#include "platform/process/pipe_bridge.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/process/machine_link.h"
#include "platform/process/named_pipe.h"

namespace platform::process {

namespace {

constexpr uint32_t kMaxFrame = 16u << 20;
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;

// "ZVQ11SHADOWPIPE" -> <machine>/pipes/ZVQ11SHADOWPIPE.sock; other characters as %XXXX.
std::string SocketPath(const std::u16string& key) {
  std::string file;
  static const char* hex = "0123456789ABCDEF";
  for (char16_t c : key) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u'.') {
      file.push_back(static_cast<char>(c));
    } else {
      file.push_back('%');
      for (int shift = 12; shift >= 0; shift -= 4) file.push_back(hex[(c >> shift) & 0xF]);
    }
  }
  return (Machine().folder() / "pipes" / (file + ".sock")).string();
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool SendAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size) {
    ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SendFrame(int fd, const std::vector<uint8_t>& bytes) {
  uint8_t header[4] = {static_cast<uint8_t>(bytes.size()), static_cast<uint8_t>(bytes.size() >> 8),
                       static_cast<uint8_t>(bytes.size() >> 16), static_cast<uint8_t>(bytes.size() >> 24)};
  return SendAll(fd, header, 4) && (bytes.empty() || SendAll(fd, bytes.data(), bytes.size()));
}

bool RecvFrame(int fd, std::vector<uint8_t>* bytes) {
  uint8_t header[4];
  if (!RecvAll(fd, header, 4)) return false;
  uint32_t size = header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<uint32_t>(header[3]) << 24);
  if (size > kMaxFrame) return false;  // a damaged or hostile stream ends the connection
  bytes->resize(size);
  return size == 0 || RecvAll(fd, bytes->data(), size);
}

int Connect(const std::string& path) {
  sockaddr_un address;
  if (!FillAddress(path, &address)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Relays one remote client through an in-process client end.
void Bridge(int fd, std::u16string name) {
  char request = 0;
  if (!RecvAll(fd, &request, 1)) {
    close(fd);
    return;
  }
  if (request == 'W') {
    // Free when an in-process client could connect now: probe without taking it.
    char answer = WaitNamedPipeW(name.c_str(), 0) ? 'Y' : 'N';
    SendAll(fd, &answer, 1);
    close(fd);
    return;
  }
  HANDLE client = OpenPipeClient(name, kGenericRead | kGenericWrite, 0, 3, 0);
  if (client == INVALID_HANDLE_VALUE) {
    char busy = 'B';
    SendAll(fd, &busy, 1);
    close(fd);
    return;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  bool message = SetNamedPipeHandleState(client, &mode, nullptr, nullptr) != FALSE;
  char hello[2] = {'K', message ? 'M' : 'S'};
  if (!SendAll(fd, hello, 2)) {
    CloseHandle(client);
    close(fd);
    return;
  }
  // Remote to server: frames become writes; the end of the stream closes our end.
  std::thread up([fd, client] {
    std::vector<uint8_t> frame;
    while (RecvFrame(fd, &frame)) {
      DWORD written = 0;
      if (!WriteFile(client, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr)) break;
    }
    CloseHandle(client);
  });
  // Server to remote: whole messages become frames.
  std::vector<uint8_t> message_bytes, chunk(65536);
  for (;;) {
    message_bytes.clear();
    bool ok = false;
    for (;;) {
      DWORD got = 0;
      BOOL r = ReadFile(client, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr);
      if (message_bytes.size() + got > kMaxFrame) break;
      message_bytes.insert(message_bytes.end(), chunk.begin(), chunk.begin() + got);
      if (r) {
        ok = true;
        break;
      }
      if (GetLastError() != ERROR_MORE_DATA) break;
    }
    if (!ok || !SendFrame(fd, message_bytes)) break;
  }
  shutdown(fd, SHUT_RDWR);
  up.join();
  close(fd);
}

struct Listener {
  int fd = -1;
  std::string path;
};

std::mutex& listeners_lock() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<int, Listener>& listeners() {
  static auto* l = new std::map<int, Listener>;
  return *l;
}

class RemotePipeEnd : public KernelObject {
 public:
  RemotePipeEnd(int fd, bool message_pipe, DWORD access) : fd_(fd), message_pipe_(message_pipe), access_(access) {}
  ~RemotePipeEnd() override {
    if (fd_ >= 0) close(fd_);
  }
  const char* kind() const override { return "pipe"; }

  BOOL read(void* buffer, DWORD size, DWORD* done) override {
    *done = 0;
    if (!(access_ & kGenericRead)) return fail(ERROR_ACCESS_DENIED);
    std::lock_guard guard(lock_);
    if (pending_.empty() && !has_pending_) {
      if (!RecvFrame(fd_, &pending_)) return fail(ERROR_BROKEN_PIPE);
      has_pending_ = true;
    }
    DWORD n = static_cast<DWORD>(std::min<size_t>(size, pending_.size()));
    if (n) std::memcpy(buffer, pending_.data(), n);
    pending_.erase(pending_.begin(), pending_.begin() + n);
    *done = n;
    if (!pending_.empty() && message_read_) return fail(ERROR_MORE_DATA);
    if (pending_.empty()) has_pending_ = false;
    return TRUE;
  }

  BOOL write(const void* buffer, DWORD size, DWORD* done) override {
    *done = 0;
    if (!(access_ & kGenericWrite)) return fail(ERROR_ACCESS_DENIED);
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (!SendFrame(fd_, std::vector<uint8_t>(p, p + size))) return fail(ERROR_NO_DATA);
    *done = size;
    return TRUE;
  }

  BOOL flush() override { return TRUE; }
  DWORD on_handle_closed() override {
    shutdown(fd_, SHUT_RDWR);
    return ERROR_SUCCESS;
  }

  DWORD set_message_read(bool on) {
    if (on && !message_pipe_) return ERROR_INVALID_PARAMETER;
    message_read_ = on;
    return 0;
  }

 private:
  std::mutex lock_;
  int fd_;
  bool message_pipe_;
  DWORD access_;
  bool message_read_ = false;
  std::vector<uint8_t> pending_;
  bool has_pending_ = false;
};

int next_token = 1;

}  // namespace

int StartPipeBridge(const std::u16string& key, const std::u16string& name) {
  std::string path = SocketPath(key);
  sockaddr_un address;
  if (!FillAddress(path, &address)) return -1;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  // A live server elsewhere keeps the name; a file left by a crashed one is removed.
  int probe = Connect(path);
  if (probe >= 0) {
    close(probe);
    return -1;
  }
  unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  int token;
  {
    std::lock_guard guard(listeners_lock());
    token = next_token++;
    listeners()[token] = Listener{fd, path};
  }
  std::thread([fd, name] {
    for (;;) {
      int connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) {
        if (errno == EINTR) continue;
        break;  // the listener was shut down
      }
      std::thread(Bridge, connection, name).detach();
    }
    close(fd);
  }).detach();
  return token;
}

void StopPipeBridge(int token, const std::u16string&) {
  Listener listener;
  {
    std::lock_guard guard(listeners_lock());
    auto it = listeners().find(token);
    if (it == listeners().end()) return;
    listener = it->second;
    listeners().erase(it);
  }
  unlink(listener.path.c_str());
  shutdown(listener.fd, SHUT_RDWR);  // wakes accept(); the listener thread closes the socket
}

HANDLE OpenRemotePipe(const std::u16string& key, DWORD access, DWORD* error) {
  int fd = Connect(SocketPath(key));
  if (fd < 0) {
    *error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  char request = 'C';
  char answer[2] = {0, 0};
  if (!SendAll(fd, &request, 1) || !RecvAll(fd, answer, 1)) {
    close(fd);
    *error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  if (answer[0] != 'K' || !RecvAll(fd, answer + 1, 1)) {
    close(fd);
    *error = answer[0] == 'B' ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  DWORD bits = 0;
  if (access & (kGenericRead | 0x10000000 | 0x0001)) bits |= kGenericRead;
  if (access & (kGenericWrite | 0x10000000 | 0x0002)) bits |= kGenericWrite;
  return OpenHandle(std::make_shared<RemotePipeEnd>(fd, answer[1] == 'M', bits));
}

int ProbeRemotePipe(const std::u16string& key) {
  int fd = Connect(SocketPath(key));
  if (fd < 0) return -1;
  char request = 'W', answer = 0;
  bool ok = SendAll(fd, &request, 1) && RecvAll(fd, &answer, 1);
  close(fd);
  if (!ok) return -1;
  return answer == 'Y' ? 1 : 0;
}

bool SetRemotePipeReadMode(HANDLE handle, bool message, DWORD* error) {
  auto end = std::dynamic_pointer_cast<RemotePipeEnd>(ResolveHandle(handle));
  if (!end) return false;
  *error = end->set_message_read(message);
  return true;
}

}  // namespace platform::process
