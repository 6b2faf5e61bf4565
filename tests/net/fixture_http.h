// The loopback HTTP server of the tests (loopback_http_server.py beside this
// file), started for one test (or benchmark) and stopped with it.
#pragma once

#include <sys/types.h>

#include <string>

namespace http_fixture {

class LoopbackServer {
 public:
  // Serves `file`; ends by itself after `requests` requests or `seconds`.
  // With `mode` ("full", "norange", "truncated", "nolength") any longer path
  // ending in the file's name answers in that way.
  explicit LoopbackServer(const std::string& file, int requests = 50, int seconds = 120,
                          const std::string& mode = "");
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // 0 when the server did not start.
  int port() const { return port_; }
  // "127.0.0.1:PORT", for a machine.ini [network] line.
  std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }
  // Ends the server now (a server that has gone away).
  void Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace http_fixture
