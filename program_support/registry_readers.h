// The two registry readers with their fatal rule, the diagnostic message hook
// and the zeroing allocator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// Both open (creating when missing) root\keyPath for query-value access. When
// even that fails they show the text of IDS_regerror captioned with
// ShellState.messageCaption and end the process with code 0.
// A program whose texts are kept by id (Yarv) sets RegistryErrorText to its
// own text, which is then shown instead.
extern CString RegistryErrorText;
// ReadRegistryByte: the value's first data byte AND 0x7F; 0 when the value is missing.
int32_t ReadRegistryByte(HKEY root, LPCWSTR keyPath, LPCWSTR valueName);
// The value's data as wide text (at most 255 characters); empty when missing.
CString ReadRegistryString(HKEY root, LPCWSTR keyPath, LPCWSTR valueName);

// Takes a diagnostic text and shows nothing.
void ShowDebugMessage(int32_t flag, const CString& text);

// A zero-filled block of count x size bytes, or null (also when the product
// overflows); adds count x size to AllocatedByteTotal.
void* AllocZeroed(size_t count, size_t size);
// Releases a block from AllocZeroed (null is fine).
void FreeBlock(void* block);
// Running total of the bytes AllocZeroed handed out.
extern uint64_t AllocatedByteTotal;
