// The single-instance guard: a named mutex created (not owned) when the
// program starts; a second program finds it already there.
#pragma once

#include "platform/core/types.h"

class InstanceMutex {
 public:
  static constexpr const char16_t* kName = u"Local\\{B5436CCA-6E9F-4428-B6D3-D4574B80AC03}";

  explicit InstanceMutex(LPCWSTR name);
  ~InstanceMutex();
  InstanceMutex(const InstanceMutex&) = delete;
  InstanceMutex& operator=(const InstanceMutex&) = delete;

  // True when the mutex existed before this object created it.
  bool AlreadyExists() const;

  DWORD lastError = 0;
  HANDLE mutex = nullptr;
};
