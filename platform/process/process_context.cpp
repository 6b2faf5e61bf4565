#include "platform/process/process_context.h"

#include <cstdlib>

#include "platform/core/text.h"
#include "platform/process/process_object.h"

namespace platform::process {

namespace {

std::atomic<DWORD> next_pid{4000};

std::shared_ptr<ProcessContext>& host_slot() {
  static auto* slot = new std::shared_ptr<ProcessContext>;
  return *slot;
}

std::mutex& host_lock() {
  static std::mutex m;
  return m;
}

thread_local std::shared_ptr<ProcessContext> thread_context;

std::u16string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? platform::to_utf16(value) : std::u16string();
}

}  // namespace

std::shared_ptr<ProcessContext> NewProcessContext(std::u16string image_path, std::u16string command_line) {
  auto context = std::make_shared<ProcessContext>();
  context->pid = next_pid.fetch_add(4);
  context->image_path = std::move(image_path);
  context->command_line = std::move(command_line);
  context->privileges = AdministratorPrivileges();
  return context;
}

std::shared_ptr<ProcessContext> HostProcessContext() {
  std::lock_guard guard(host_lock());
  auto& slot = host_slot();
  if (!slot) {
    // A child started by another program of the suite learns who it is from its environment.
    std::u16string image = FromEnvironment("DRUM_IMAGE_PATH");
    std::u16string line = FromEnvironment("DRUM_COMMAND_LINE");
    if (image.empty()) image = u"C:\\Program Files\\Drummetworks\\Drummetworks.exe";
    if (line.empty()) line = u"\"" + image + u"\"";
    slot = NewProcessContext(image, line);
    if (const char* pid = std::getenv("DRUM_PROCESS_ID")) {
      char* end = nullptr;
      unsigned long value = std::strtoul(pid, &end, 10);
      if (end && *end == 0 && value > 0 && value < 0xFFFFFFF0UL) slot->pid = static_cast<DWORD>(value);
    }
  }
  return slot;
}

std::shared_ptr<ProcessContext> CurrentProcessContext() {
  if (thread_context) return thread_context;
  return HostProcessContext();
}

void SetCurrentProcessContext(std::shared_ptr<ProcessContext> context) { thread_context = std::move(context); }

void SetProgramImage(std::u16string image_path, std::u16string command_line) {
  auto host = HostProcessContext();
  std::lock_guard guard(host_lock());
  host->image_path = std::move(image_path);
  host->command_line = std::move(command_line);
}

}  // namespace platform::process
