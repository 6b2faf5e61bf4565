// A small fixed-size record at the start of a file, such as the settings
// record beside a program: one read of at most the record's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/core/cstring.h"

// The first `record_size` bytes of the file, in one read; fewer when the file
// is shorter (a failed read gives none). No value when the file cannot be
// opened, so the caller decides what a missing record means.
std::optional<std::vector<uint8_t>> ReadRecordFile(const CString& path, size_t record_size);
