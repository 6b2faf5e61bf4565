#include "platform/process/named_pipe.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/fs/file_api.h"
#include "platform/process/command_line.h"
#include "platform/process/pipe_bridge.h"
#include "platform/process/wait.h"

namespace platform::process {

namespace {

constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kDefaultWaitMs = 50;  // a pipe created with no default timeout

std::mutex& pipes_lock() {
  static auto* m = new std::mutex;
  return *m;
}

enum class State { Listening, Connected, Disconnected };

using Message = std::vector<uint8_t>;

struct Family;

// One instance: the server end and at most one client end, and the data in flight.
struct Instance {
  Family* family = nullptr;  // valid while the server end is open
  State state = State::Listening;
  bool server_open = true;
  bool client_open = false;
  uint64_t client_generation = 0;  // which client the client end belongs to
  std::deque<Message> to_server;
  std::deque<Message> to_client;
};

struct Family {
  std::u16string key;  // the name after the prefix, upper-case
  int bridge = -1;     // the listener that lets other processes reach it
  bool message_type = false;
  DWORD max_instances = 1;
  DWORD default_timeout = kDefaultWaitMs;
  std::vector<std::shared_ptr<Instance>> instances;
};

std::map<std::u16string, std::unique_ptr<Family>>& families() {
  static auto* f = new std::map<std::u16string, std::unique_ptr<Family>>;
  return *f;
}

// "\\.\pipe\Name" -> "NAME"; empty when the prefix is missing or the rest is empty.
std::u16string PipeKey(std::u16string_view name) {
  std::u16string_view prefix = kPipePrefix;
  if (name.size() <= prefix.size() || !EqualsNoCase(name.substr(0, prefix.size()), prefix)) return {};
  return UpperCase(name.substr(prefix.size()));
}

class PipeEnd : public KernelObject {
 public:
  PipeEnd(std::shared_ptr<Instance> instance, bool server, DWORD access, bool message_read)
      : instance_(std::move(instance)), server_(server), access_(access), message_read_(message_read) {}

  const char* kind() const override { return "pipe"; }
  bool is_server() const { return server_; }
  Instance& instance() { return *instance_; }
  std::shared_ptr<Instance> shared_instance() { return instance_; }

  BOOL read(void* buffer, DWORD size, DWORD* done) override {
    *done = 0;
    if (!(access_ & kFileReadData)) return fail(ERROR_ACCESS_DENIED);
    DWORD error = 0;
    bool ready = WaitUntil(
        [&] {
          std::lock_guard guard(pipes_lock());
          error = read_error_locked();
          return error != 0 || !incoming_locked().empty();
        },
        INFINITE);
    if (!ready) return fail(ERROR_BROKEN_PIPE);
    std::lock_guard guard(pipes_lock());
    auto& queue = incoming_locked();
    if (queue.empty()) return fail(error ? error : ERROR_BROKEN_PIPE);
    auto* out = static_cast<uint8_t*>(buffer);
    if (message_read_) {
      Message& m = queue.front();
      DWORD n = static_cast<DWORD>(std::min<size_t>(size, m.size()));
      if (n) std::memcpy(out, m.data(), n);
      *done = n;
      if (n < m.size()) {
        m.erase(m.begin(), m.begin() + n);
        return fail(ERROR_MORE_DATA);
      }
      queue.pop_front();
      return TRUE;
    }
    DWORD total = 0;
    while (total < size && !queue.empty()) {
      Message& m = queue.front();
      DWORD n = static_cast<DWORD>(std::min<size_t>(size - total, m.size()));
      std::memcpy(out + total, m.data(), n);
      total += n;
      if (n < m.size()) {
        m.erase(m.begin(), m.begin() + n);
      } else {
        queue.pop_front();
      }
    }
    *done = total;
    return TRUE;
  }

  BOOL write(const void* buffer, DWORD size, DWORD* done) override {
    *done = 0;
    if (!(access_ & kFileWriteData)) return fail(ERROR_ACCESS_DENIED);
    {
      std::lock_guard guard(pipes_lock());
      DWORD error = write_error_locked();
      if (error) return fail(error);
      const auto* in = static_cast<const uint8_t*>(buffer);
      auto& queue = outgoing_locked();
      if (instance_->family && !instance_->family->message_type && !queue.empty()) {
        queue.back().insert(queue.back().end(), in, in + size);  // a byte stream has no boundaries
      } else {
        queue.emplace_back(in, in + size);
      }
      *done = size;
    }
    NotifyStateChanged();
    return TRUE;
  }

  BOOL flush() override { return TRUE; }

  DWORD on_handle_closed() override {
    {
      std::lock_guard guard(pipes_lock());
      closed_ = true;
      if (server_) {
        close_server_locked();
      } else if (instance_->client_open && generation_ == instance_->client_generation) {
        instance_->client_open = false;
      }
    }
    NotifyStateChanged();
    return ERROR_SUCCESS;
  }

  // Under pipes_lock.
  std::deque<Message>& incoming_locked() { return server_ ? instance_->to_server : instance_->to_client; }
  std::deque<Message>& outgoing_locked() { return server_ ? instance_->to_client : instance_->to_server; }

  // Why a read cannot wait for more data, or 0 while it may.
  DWORD read_error_locked() const {
    const Instance& i = *instance_;
    if (closed_) return ERROR_BROKEN_PIPE;  // a read still running when its own handle closed
    if (server_) {
      if (i.state == State::Listening) return ERROR_PIPE_LISTENING;
      if (i.state == State::Disconnected) return ERROR_PIPE_NOT_CONNECTED;
      return i.client_open ? 0 : ERROR_BROKEN_PIPE;
    }
    if (generation_ != i.client_generation || i.state == State::Disconnected) return ERROR_PIPE_NOT_CONNECTED;
    return i.server_open ? 0 : ERROR_BROKEN_PIPE;
  }

  DWORD write_error_locked() const {
    const Instance& i = *instance_;
    if (server_) {
      if (i.state == State::Listening) return ERROR_PIPE_LISTENING;
      if (i.state == State::Disconnected) return ERROR_PIPE_NOT_CONNECTED;
      return i.client_open ? 0 : ERROR_NO_DATA;
    }
    if (generation_ != i.client_generation || i.state == State::Disconnected) return ERROR_PIPE_NOT_CONNECTED;
    return i.server_open ? 0 : ERROR_NO_DATA;
  }

  void set_message_read(bool on) { message_read_ = on; }
  void set_generation(uint64_t g) { generation_ = g; }

 private:
  void close_server_locked() {
    Instance& i = *instance_;
    i.server_open = false;  // what it wrote stays readable; only a disconnect discards it
    Family* family = i.family;
    i.family = nullptr;
    if (!family) return;
    auto& list = family->instances;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->get() == &i) {
        list.erase(it);
        break;
      }
    }
    if (list.empty()) {
      if (family->bridge >= 0) StopPipeBridge(family->bridge, family->key);
      families().erase(family->key);
    }
  }

  std::shared_ptr<Instance> instance_;
  bool server_;
  DWORD access_;
  bool message_read_;
  uint64_t generation_ = 0;
  bool closed_ = false;
};

DWORD AccessBits(DWORD access) {
  DWORD bits = 0;
  if (access & (kGenericRead | kGenericAll | kFileReadData)) bits |= kFileReadData;
  if (access & (kGenericWrite | kGenericAll | kFileWriteData)) bits |= kFileWriteData;
  return bits;
}

}  // namespace

HANDLE OpenPipeClient(const std::u16string& name, DWORD access, DWORD, DWORD, DWORD) {
  std::u16string key = PipeKey(name);
  if (key.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  bool local;
  {
    std::lock_guard guard(pipes_lock());
    local = families().count(key) > 0;
  }
  if (!local) {
    // Not served here: perhaps by another process of the machine.
    DWORD error = 0;
    HANDLE remote = OpenRemotePipe(key, access, &error);
    SetLastError(remote == INVALID_HANDLE_VALUE ? error : ERROR_SUCCESS);
    return remote;
  }
  std::shared_ptr<PipeEnd> end;
  {
    std::lock_guard guard(pipes_lock());
    auto it = families().find(key);
    if (it == families().end()) {
      SetLastError(ERROR_FILE_NOT_FOUND);  // its last server went meanwhile
      return INVALID_HANDLE_VALUE;
    }
    for (auto& instance : it->second->instances) {
      if (instance->state != State::Listening || instance->client_open) continue;
      instance->state = State::Connected;
      instance->client_open = true;
      ++instance->client_generation;
      instance->to_server.clear();
      instance->to_client.clear();
      end = std::make_shared<PipeEnd>(instance, false, AccessBits(access), false);
      end->set_generation(instance->client_generation);
      break;
    }
  }
  if (!end) {
    SetLastError(ERROR_PIPE_BUSY);
    return INVALID_HANDLE_VALUE;
  }
  NotifyStateChanged();
  SetLastError(ERROR_SUCCESS);
  return OpenHandle(end);
}

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD open_mode, DWORD pipe_mode, DWORD max_instances, DWORD, DWORD,
                        DWORD default_timeout_ms, LPSECURITY_ATTRIBUTES) {
  // Clients reach pipes through CreateFileW; a client can only find a pipe
  // after some server made one, so the route is laid here.
  static std::once_flag routed;
  std::call_once(routed, [] { platform::fs::RegisterNamespaceHandler(kPipePrefix, &OpenPipeClient); });
  std::u16string key = name ? PipeKey(name) : std::u16string();
  if (key.empty() || key.find(u'\\') != std::u16string::npos || key.size() > 256) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  if (max_instances == 0 || max_instances > PIPE_UNLIMITED_INSTANCES || (open_mode & PIPE_ACCESS_DUPLEX) == 0 ||
      ((pipe_mode & PIPE_READMODE_MESSAGE) && !(pipe_mode & PIPE_TYPE_MESSAGE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto instance = std::make_shared<Instance>();
  {
    std::lock_guard guard(pipes_lock());
    auto& family = families()[key];
    if (family) {
      if (open_mode & FILE_FLAG_FIRST_PIPE_INSTANCE) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if (family->instances.size() >= family->max_instances) {
        SetLastError(ERROR_PIPE_BUSY);
        return INVALID_HANDLE_VALUE;
      }
    } else {
      family = std::make_unique<Family>();
      family->key = key;
      family->bridge = StartPipeBridge(key, name);
      family->message_type = (pipe_mode & PIPE_TYPE_MESSAGE) != 0;
      family->max_instances = max_instances;
      family->default_timeout = default_timeout_ms ? default_timeout_ms : kDefaultWaitMs;
    }
    instance->family = family.get();
    family->instances.push_back(instance);
  }
  // The server's access follows the pipe's direction: inbound data is read by the server.
  DWORD access = 0;
  if (open_mode & PIPE_ACCESS_INBOUND) access |= 0x0001;
  if (open_mode & PIPE_ACCESS_OUTBOUND) access |= 0x0002;
  auto end = std::make_shared<PipeEnd>(instance, true, access, (pipe_mode & PIPE_READMODE_MESSAGE) != 0);
  NotifyStateChanged();
  SetLastError(ERROR_SUCCESS);
  return platform::OpenHandle(end);
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED) {
  auto end = platform::ResolveHandleAs<PipeEnd>(pipe);
  if (!end) return FALSE;
  if (!end->is_server()) return fail(ERROR_INVALID_FUNCTION);
  auto instance = end->shared_instance();
  {
    std::lock_guard guard(pipes_lock());
    if (instance->state == State::Connected) return fail(ERROR_PIPE_CONNECTED);
    if (instance->state == State::Disconnected) instance->state = State::Listening;  // free for the next client
  }
  NotifyStateChanged();
  WaitUntil(
      [&] {
        std::lock_guard guard(pipes_lock());
        return instance->state == State::Connected;
      },
      INFINITE);
  return TRUE;
}

BOOL DisconnectNamedPipe(HANDLE pipe) {
  auto end = platform::ResolveHandleAs<PipeEnd>(pipe);
  if (!end) return FALSE;
  if (!end->is_server()) return fail(ERROR_INVALID_FUNCTION);
  {
    std::lock_guard guard(pipes_lock());
    Instance& i = end->instance();
    if (i.state == State::Listening) return fail(ERROR_PIPE_LISTENING);
    i.state = State::Disconnected;
    i.client_open = false;  // the client's handle stays, but no longer reaches this instance
    i.to_server.clear();
    i.to_client.clear();
  }
  NotifyStateChanged();
  return TRUE;
}

BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeout_ms) {
  std::u16string key = name ? PipeKey(name) : std::u16string();
  if (key.empty()) return fail(ERROR_INVALID_NAME);
  DWORD timeout = timeout_ms;
  bool local;
  {
    std::lock_guard guard(pipes_lock());
    auto it = families().find(key);
    local = it != families().end();
    if (local && timeout == NMPWAIT_USE_DEFAULT_WAIT) timeout = it->second->default_timeout;
  }
  if (!local) {
    // Served by another process, or by nobody. Its state changes cannot wake
    // us, so it is asked again every 50 ms of the clock.
    int state = ProbeRemotePipe(key);
    if (state < 0) return fail(ERROR_FILE_NOT_FOUND);
    if (timeout == NMPWAIT_USE_DEFAULT_WAIT) timeout = kDefaultWaitMs;
    for (DWORD waited = 0; state == 0; waited += 50) {
      if (timeout != NMPWAIT_WAIT_FOREVER && waited >= timeout) return fail(ERROR_SEM_TIMEOUT);
      WaitUntil([] { return false; }, 50);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the other process runs in real time
      state = ProbeRemotePipe(key);
      if (state < 0) return fail(ERROR_FILE_NOT_FOUND);
    }
    return TRUE;
  }
  bool gone = false;
  bool free = WaitUntil(
      [&] {
        std::lock_guard guard(pipes_lock());
        auto it = families().find(key);
        if (it == families().end()) {
          gone = true;
          return true;
        }
        for (auto& instance : it->second->instances)
          if (instance->state == State::Listening && !instance->client_open) return true;
        return false;
      },
      timeout);
  if (gone) return fail(ERROR_FILE_NOT_FOUND);
  if (!free) return fail(ERROR_SEM_TIMEOUT);
  return TRUE;
}

BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD max_collection_count, LPDWORD collect_data_timeout) {
  DWORD remote_error = 0;
  if (mode && !(*mode & ~PIPE_READMODE_MESSAGE) &&
      SetRemotePipeReadMode(pipe, (*mode & PIPE_READMODE_MESSAGE) != 0, &remote_error))
    return remote_error ? fail(remote_error) : TRUE;
  auto end = platform::ResolveHandleAs<PipeEnd>(pipe);
  if (!end) return FALSE;
  if (!mode) return TRUE;  // collection settings only matter for remote pipes
  if (*mode & ~(PIPE_READMODE_MESSAGE | PIPE_NOWAIT)) return fail(ERROR_INVALID_PARAMETER);
  if (*mode & PIPE_NOWAIT) return fail(ERROR_NOT_SUPPORTED);
  std::lock_guard guard(pipes_lock());
  Family* family = end->instance().family;
  if ((*mode & PIPE_READMODE_MESSAGE) && family && !family->message_type) return fail(ERROR_INVALID_PARAMETER);
  if (!family && (*mode & PIPE_READMODE_MESSAGE)) return fail(ERROR_BROKEN_PIPE);
  end->set_message_read((*mode & PIPE_READMODE_MESSAGE) != 0);
  (void)max_collection_count;
  (void)collect_data_timeout;
  return TRUE;
}

BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD buffer_size, LPDWORD bytes_read, LPDWORD total_bytes_available,
                   LPDWORD bytes_left_this_message) {
  auto end = platform::ResolveHandleAs<PipeEnd>(pipe);
  if (!end) return FALSE;
  std::lock_guard guard(pipes_lock());
  auto& queue = end->incoming_locked();
  if (queue.empty()) {
    DWORD error = end->read_error_locked();
    if (error && error != ERROR_PIPE_LISTENING) return fail(error);
  }
  size_t total = 0;
  for (auto& m : queue) total += m.size();
  DWORD copied = 0;
  if (buffer && buffer_size && !queue.empty()) {
    copied = static_cast<DWORD>(std::min<size_t>(buffer_size, queue.front().size()));
    std::memcpy(buffer, queue.front().data(), copied);
  }
  if (bytes_read) *bytes_read = copied;
  if (total_bytes_available) *total_bytes_available = static_cast<DWORD>(std::min<size_t>(total, 0xFFFFFFFF));
  if (bytes_left_this_message) *bytes_left_this_message = queue.empty() ? 0 : static_cast<DWORD>(queue.front().size() - copied);
  return TRUE;
}
