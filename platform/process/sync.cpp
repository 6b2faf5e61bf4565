#include "platform/process/sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/process/machine_link.h"
#include "platform/process/thread.h"
#include "platform/process/wait.h"
#include "platform/process/waitable.h"

namespace platform::process {

namespace {

class EventObject : public Waitable {
 public:
  const char* kind() const override { return "event"; }
  bool is_signaled_locked(DWORD) const override { return signaled; }
  DWORD acquire_locked(DWORD) override {
    if (!manual_reset) signaled = false;
    return WAIT_OBJECT_0;
  }
  bool manual_reset = false;
  bool signaled = false;
};

// A host lock file that marks a name as taken. Every process that has the
// name open holds a shared lock on it; a creator that can take the lock
// exclusively is the first (and then keeps it shared like everyone else). So
// the name stays taken while any process of the machine has it open, and the
// kernel drops a process's lock however that process ends.
class LockFile {
 public:
  ~LockFile() {
    if (fd_ >= 0) close(fd_);  // closing drops the flock
  }
  // True when no other process had the name open.
  bool acquire(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return true;  // no lock folder: the name is at least unique within this process
    // Another creator may hold the lock exclusively for a moment while it
    // turns it into a shared one: try again briefly.
    for (int tries = 0; tries < 1000; ++tries) {
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        flock(fd_, LOCK_SH);
        return true;
      }
      if (flock(fd_, LOCK_SH | LOCK_NB) == 0) return false;
      usleep(1000);
    }
    return false;
  }

 private:
  int fd_ = -1;
};

class MutexObject : public Waitable {
 public:
  const char* kind() const override { return "mutex"; }
  bool is_signaled_locked(DWORD thread_id) const override { return owner == 0 || owner == thread_id; }
  DWORD acquire_locked(DWORD thread_id) override {
    owner = thread_id;
    ++recursion;
    return WAIT_OBJECT_0;
  }
  std::u16string name;
  DWORD owner = 0;  // thread id, 0 when free
  DWORD recursion = 0;
  std::unique_ptr<LockFile> lock_file;
};

struct NamedObjects {
  std::mutex lock;
  std::map<std::u16string, std::weak_ptr<MutexObject>> mutexes;
};

NamedObjects& named() {
  static auto* n = new NamedObjects;
  return *n;
}

// "Local\{...}" -> "Local_{...}.lock": letters, digits and {}-_. kept, others as %XXXX.
std::filesystem::path LockPathFor(const std::u16string& name) {
  std::string file;
  static const char* hex = "0123456789ABCDEF";
  for (char16_t c : name) {
    bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'{' ||
                 c == u'}' || c == u'-' || c == u'_' || c == u'.';
    if (plain) {
      file.push_back(static_cast<char>(c));
    } else if (c == u'\\') {
      file.push_back('!');
    } else {
      file.push_back('%');
      for (int shift = 12; shift >= 0; shift -= 4) file.push_back(hex[(c >> shift) & 0xF]);
    }
  }
  return Machine().folder() / "locks" / (file + ".lock");
}

bool ValidName(const std::u16string& name) {
  if (name.size() > 260) return false;
  for (char16_t c : name)
    if (c == 0) return false;
  return true;
}

}  // namespace

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCWSTR) {
  auto event = std::make_shared<EventObject>();
  event->manual_reset = manual_reset != FALSE;
  event->signaled = initial_state != FALSE;
  SetLastError(ERROR_SUCCESS);
  return platform::OpenHandle(event);
}

BOOL SetEvent(HANDLE handle) {
  auto event = platform::ResolveHandleAs<EventObject>(handle);
  if (!event) return FALSE;
  {
    std::lock_guard guard(SyncLock());
    event->signaled = true;
  }
  NotifyStateChanged();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  auto event = platform::ResolveHandleAs<EventObject>(handle);
  if (!event) return FALSE;
  std::lock_guard guard(SyncLock());
  event->signaled = false;
  return TRUE;
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCWSTR name) {
  const DWORD me = GetCurrentThreadId();
  if (!name || !*name) {
    auto mutex = std::make_shared<MutexObject>();
    if (initial_owner) mutex->acquire_locked(me);
    SetLastError(ERROR_SUCCESS);
    return platform::OpenHandle(mutex);
  }
  std::u16string key = name;
  if (!ValidName(key)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  auto& n = named();
  std::lock_guard guard(n.lock);
  if (auto existing = n.mutexes[key].lock()) {
    HANDLE handle = platform::OpenHandle(existing);
    SetLastError(ERROR_ALREADY_EXISTS);
    return handle;
  }
  auto mutex = std::make_shared<MutexObject>();
  mutex->name = key;
  mutex->lock_file = std::make_unique<LockFile>();
  bool first = mutex->lock_file->acquire(LockPathFor(key));
  if (first && initial_owner) {
    std::lock_guard sync(SyncLock());
    mutex->acquire_locked(me);
  }
  n.mutexes[key] = mutex;
  HANDLE handle = platform::OpenHandle(mutex);
  SetLastError(first ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handle;
}

HANDLE OpenMutexW(DWORD, BOOL, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string key = name;
  auto& n = named();
  std::lock_guard guard(n.lock);
  if (auto existing = n.mutexes[key].lock()) return platform::OpenHandle(existing);
  // Held by another process of the simulated PC?
  auto probe = std::make_unique<LockFile>();
  if (probe->acquire(LockPathFor(key))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto mutex = std::make_shared<MutexObject>();
  mutex->name = key;
  mutex->lock_file = std::move(probe);
  n.mutexes[key] = mutex;
  return platform::OpenHandle(mutex);
}

BOOL ReleaseMutex(HANDLE handle) {
  auto mutex = platform::ResolveHandleAs<MutexObject>(handle);
  if (!mutex) return FALSE;
  {
    std::lock_guard guard(SyncLock());
    if (mutex->owner != GetCurrentThreadId() || mutex->recursion == 0) return fail(ERROR_NOT_OWNER);
    if (--mutex->recursion == 0) mutex->owner = 0;
  }
  NotifyStateChanged();
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD timeout_ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  for (DWORD i = 0; i < count; ++i) {
    auto object = platform::ResolveHandleAs<Waitable>(handles[i]);
    if (!object) return WAIT_FAILED;
    objects.push_back(std::move(object));
  }
  const DWORD me = GetCurrentThreadId();
  DWORD result = WAIT_TIMEOUT;
  bool ok = WaitUntil(
      [&] {
        std::lock_guard guard(SyncLock());
        if (wait_all) {
          for (auto& o : objects)
            if (!o->is_signaled_locked(me)) return false;
          bool abandoned = false;
          for (auto& o : objects) abandoned |= o->acquire_locked(me) == WAIT_ABANDONED;
          result = abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
          return true;
        }
        for (DWORD i = 0; i < count; ++i) {
          if (objects[i]->is_signaled_locked(me)) {
            DWORD r = objects[i]->acquire_locked(me);
            result = (r == WAIT_ABANDONED ? WAIT_ABANDONED : WAIT_OBJECT_0) + i;
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  if (!ok) return WAIT_TIMEOUT;
  NotifyStateChanged();
  return result;
}

namespace {
struct SectionImpl {
  std::recursive_mutex mutex;
};
SectionImpl* Section(LPCRITICAL_SECTION section) { return static_cast<SectionImpl*>(section->impl); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  if (!section) return;
  section->impl = new SectionImpl;
}
void EnterCriticalSection(LPCRITICAL_SECTION section) { Section(section)->mutex.lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) { return Section(section)->mutex.try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { Section(section)->mutex.unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  if (!section) return;
  delete Section(section);
  section->impl = nullptr;
}

LONG InterlockedIncrement(LONG volatile* target) {
  return __atomic_add_fetch(const_cast<LONG*>(target), 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* target) {
  return __atomic_sub_fetch(const_cast<LONG*>(target), 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(const_cast<LONG*>(target), value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  LONG expected = comparand;
  __atomic_compare_exchange_n(const_cast<LONG*>(target), &expected, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return expected;
}
LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
  return __atomic_fetch_add(const_cast<LONG*>(target), value, __ATOMIC_SEQ_CST);
}
