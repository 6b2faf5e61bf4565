// Named pipes between the threads (and stand-in programs) of one host process.
//
// A server makes instances with CreateNamedPipeW ("\\.\pipe\name"); a client
// opens one with CreateFileW on the same name (the file API hands such names
// to OpenPipeClient). An instance is free for a client from its creation and
// again after ConnectNamedPipe following a DisconnectNamedPipe; a client
// finding every instance taken gets ERROR_PIPE_BUSY, and one finding no pipe
// of that name ERROR_FILE_NOT_FOUND. Message-type pipes keep each write as one
// message: a reader in message mode gets one message per read, and a buffer
// too small for it gets ERROR_MORE_DATA with the rest kept for the next read.
// Reads block until data arrives or the other end goes (ERROR_BROKEN_PIPE,
// ERROR_PIPE_NOT_CONNECTED after a disconnect). Writes never block.
#pragma once

#include <string>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/types.h"

constexpr DWORD PIPE_ACCESS_INBOUND = 0x00000001;
constexpr DWORD PIPE_ACCESS_OUTBOUND = 0x00000002;
constexpr DWORD PIPE_ACCESS_DUPLEX = 0x00000003;
constexpr DWORD FILE_FLAG_FIRST_PIPE_INSTANCE = 0x00080000;
constexpr DWORD PIPE_TYPE_BYTE = 0x00000000;
constexpr DWORD PIPE_TYPE_MESSAGE = 0x00000004;
constexpr DWORD PIPE_READMODE_BYTE = 0x00000000;
constexpr DWORD PIPE_READMODE_MESSAGE = 0x00000002;
constexpr DWORD PIPE_WAIT = 0x00000000;
constexpr DWORD PIPE_NOWAIT = 0x00000001;
constexpr DWORD PIPE_ACCEPT_REMOTE_CLIENTS = 0x00000000;
constexpr DWORD PIPE_REJECT_REMOTE_CLIENTS = 0x00000008;
constexpr DWORD PIPE_UNLIMITED_INSTANCES = 255;
constexpr DWORD NMPWAIT_USE_DEFAULT_WAIT = 0x00000000;
constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;
constexpr DWORD ERROR_PIPE_LISTENING = 536;

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD open_mode, DWORD pipe_mode, DWORD max_instances, DWORD out_buffer_size,
                        DWORD in_buffer_size, DWORD default_timeout_ms, LPSECURITY_ATTRIBUTES security);
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);
BOOL DisconnectNamedPipe(HANDLE pipe);
BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeout_ms);
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD max_collection_count, LPDWORD collect_data_timeout);
BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD buffer_size, LPDWORD bytes_read, LPDWORD total_bytes_available,
                   LPDWORD bytes_left_this_message);

namespace platform::process {

// Opens the client end of "\\.\pipe\name" (the file API's CreateFileW hands
// pipe names here). access: the GENERIC_READ (0x80000000) / GENERIC_WRITE
// (0x40000000) bits; share, disposition and flags are accepted as the platform
// accepts them for pipes. Returns INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenPipeClient(const std::u16string& name, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// The prefix the file API routes to OpenPipeClient.
inline constexpr const char16_t* kPipePrefix = u"\\\\.\\pipe\\";

}  // namespace platform::process
