#include "net/fixture_http.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace http_fixture {

LoopbackServer::LoopbackServer(const std::string& file, int requests, int seconds, const std::string& mode) {
  // The tests run with DRUM_SOURCE_DIR set; a program built elsewhere (the
  // benchmark) names the tree at build time.
  const char* source = std::getenv("DRUM_SOURCE_DIR");
#ifdef DRUM_SOURCE_TREE
  if (!source) source = DRUM_SOURCE_TREE;
#endif
  std::string script = std::string(source ? source : ".") + "/tests/net/loopback_http_server.py";
  int out[2];
  if (pipe(out) != 0) {
    fprintf(stderr, "loopback server: no pipe\n");
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::string r = std::to_string(requests), s = std::to_string(seconds);
    if (mode.empty()) {
      execlp("python3", "python3", script.c_str(), file.c_str(), "--requests", r.c_str(), "--seconds", s.c_str(),
             static_cast<char*>(nullptr));
    } else {
      execlp("python3", "python3", script.c_str(), file.c_str(), "--requests", r.c_str(), "--seconds", s.c_str(),
             "--mode", mode.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(out[1]);
  FILE* in = fdopen(out[0], "r");
  if (!in || fscanf(in, "PORT %d", &port_) != 1) {
    fprintf(stderr, "the loopback server did not start (%s)\n", script.c_str());
    port_ = 0;
  }
  if (in) fclose(in);
}

LoopbackServer::~LoopbackServer() { Stop(); }

void LoopbackServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace http_fixture
