// The program file's version text, read out of its version resource.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/cstring.h"

// Process-wide: the dotted version of the program file, set when the About
// box opens (the wipe tools' deletion report reads it too).
extern CString programVersion;

// Scans the block as consecutive zero-terminated UTF-16 texts from its start
// for the first that contains "FileVersion"; the value starts two characters
// after that text's end. Returns at most 19 characters of it with every ", "
// turned into "."; empty when no text holds the key or the value would lie
// outside the block. Never reads past `size` bytes.
CString ExtractFileVersion(const uint8_t* block, size_t size);

// Sets ShellState.winPEMode from the program file's path (1 when it starts
// with an upper-case "X") and returns the file's version text (empty when it
// has no version resource or no "FileVersion").
CString GetProgramFileVersion();
