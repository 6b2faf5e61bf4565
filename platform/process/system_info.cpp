#include "platform/process/system_info.h"

#include <atomic>
#include <cstring>

#include "platform/process/machine_link.h"
#include "platform/process/process_object.h"

namespace platform::process {
namespace {
std::atomic<uint64_t> execution_requests{0};
thread_local int com_depth = 0;
thread_local DWORD com_model = 0;
thread_local EXECUTION_STATE continuous_state = ES_CONTINUOUS;
}  // namespace

uint64_t ExecutionStateRequests() { return execution_requests.load(); }

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
  if (!info) return fail(ERROR_INVALID_PARAMETER);
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) return fail(ERROR_INSUFFICIENT_BUFFER);
  OsFacts os = Machine().os();
  info->dwMajorVersion = os.major;
  info->dwMinorVersion = os.minor;
  info->dwBuildNumber = os.build;
  info->dwPlatformId = os.platform_id;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  size_t n = std::min<size_t>(os.service_pack.size(), 127);
  std::memcpy(info->szCSDVersion, os.service_pack.data(), n * sizeof(WCHAR));
  if (size == sizeof(OSVERSIONINFOEXW)) {
    auto* ex = reinterpret_cast<OSVERSIONINFOEXW*>(info);
    ex->wServicePackMajor = os.service_pack_major;
    ex->wServicePackMinor = os.service_pack_minor;
    ex->wSuiteMask = os.suite_mask;
    ex->wProductType = os.product_type;
    ex->wReserved = 0;
  }
  return TRUE;
}

BOOL IsWow64Process(HANDLE process, BOOL* wow64) {
  if (!wow64) return fail(ERROR_INVALID_PARAMETER);
  if (!ProcessContextOfHandle(process)) return FALSE;
  *wow64 = Machine().os().wow64 ? TRUE : FALSE;
  return TRUE;
}

HRESULT CoInitializeEx(LPVOID, DWORD flags) {
  DWORD model = flags & COINIT_APARTMENTTHREADED;
  if (com_depth > 0 && model != com_model) return RPC_E_CHANGED_MODE;
  if (com_depth++ > 0) return S_FALSE;
  com_model = model;
  CurrentProcessContext()->com_initialized = true;
  return S_OK;
}

void CoUninitialize() {
  if (com_depth > 0) --com_depth;
}

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags) {
  constexpr EXECUTION_STATE known = ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_AWAYMODE_REQUIRED | ES_CONTINUOUS;
  if (flags & ~known) return 0;
  ++execution_requests;
  EXECUTION_STATE previous = continuous_state;
  if (flags & ES_CONTINUOUS) continuous_state = flags;
  return previous;
}
