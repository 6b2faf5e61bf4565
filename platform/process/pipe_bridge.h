// Named pipes between host processes of one simulated PC.
//
// A process that serves a pipe also listens on a Unix socket in the machine
// folder (pipes/<name>.sock). A client in another process that finds no pipe
// of that name in its own process connects there; the serving process then
// opens an in-process client end for it and relays whole messages both ways
// (each message framed as a 32-bit little-endian length and its bytes, at
// most 16 MiB). The first byte a client sends asks either to connect ('C')
// or whether an instance is free ('W'); the server answers 'K' plus 'M'
// (message pipe) or 'S' (byte pipe), 'B' (busy), or 'Y'/'N'.
#pragma once

#include <string>

#include "platform/core/types.h"

namespace platform::process {

// Starts listening for a pipe family made in this process; returns a token
// for StopPipeBridge, or -1 when the socket cannot be made (then the pipe is
// reachable from this process only) or another process serves that name.
int StartPipeBridge(const std::u16string& key, const std::u16string& name);
void StopPipeBridge(int token, const std::u16string& key);

// Client side. Returns the client handle, or INVALID_HANDLE_VALUE with *error:
// ERROR_FILE_NOT_FOUND when no process serves the name, ERROR_PIPE_BUSY.
HANDLE OpenRemotePipe(const std::u16string& key, DWORD access, DWORD* error);
// 1 when another process serves the name and has a free instance, 0 when it is
// busy, -1 when nobody serves it.
int ProbeRemotePipe(const std::u16string& key);
// Read mode of a remote client handle; false when the handle is not one.
bool SetRemotePipeReadMode(HANDLE handle, bool message, DWORD* error);

}  // namespace platform::process
