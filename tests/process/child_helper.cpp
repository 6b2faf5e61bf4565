// Test helper: one of the suite's programs started as a real child process.
// Writes what it was given (command line, image path, machine folder, its
// process id) to "child-report.txt" in the machine folder and exits with 3;
// with the argument "hang" it waits until it is killed; with "work MS" it
// works (sleeps on the host) for MS milliseconds and exits with 4.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
  // "--machine DIR hang": a program that never ends by itself.
  if (argc >= 4 && std::string(argv[3]) == "hang")
    for (;;) pause();
  // "--machine DIR work MS": real work that ends by itself.
  if (argc >= 5 && std::string(argv[3]) == "work") {
    usleep(useconds_t(std::stoul(argv[4])) * 1000);
    return 4;
  }
  std::string machine;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--machine") machine = argv[i + 1];
  const char* env = std::getenv("DRUM_MACHINE");
  if (machine.empty() || !env || machine != env) return 2;
  std::ofstream out(machine + "/child-report.txt");
  out << "line=" << (std::getenv("DRUM_COMMAND_LINE") ? std::getenv("DRUM_COMMAND_LINE") : "") << "\n";
  out << "image=" << (std::getenv("DRUM_IMAGE_PATH") ? std::getenv("DRUM_IMAGE_PATH") : "") << "\n";
  out << "folder=" << (std::getenv("DRUM_CURRENT_FOLDER") ? std::getenv("DRUM_CURRENT_FOLDER") : "") << "\n";
  out << "args=";
  for (int i = 3; i < argc; ++i) out << "[" << argv[i] << "]";
  out << "\n";
  return 3;
}
