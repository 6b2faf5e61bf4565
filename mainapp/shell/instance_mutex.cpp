#include "mainapp/shell/instance_mutex.h"

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/process/sync.h"

InstanceMutex::InstanceMutex(LPCWSTR name) {
  mutex = CreateMutexW(nullptr, FALSE, name);
  lastError = GetLastError();
}

InstanceMutex::~InstanceMutex() {
  if (mutex) CloseHandle(mutex);
  mutex = nullptr;
}

bool InstanceMutex::AlreadyExists() const { return lastError == ERROR_ALREADY_EXISTS; }
