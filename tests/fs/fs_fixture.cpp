#include "fs/fs_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fstest {

void MakeSparseFile(const std::string& path, uint64_t size) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    throw std::runtime_error("cannot size " + path);
  }
  close(fd);
}

bool MakeNtfsImage(const std::string& path, uint64_t size, uint32_t sector_size, const std::string& label) {
  MakeSparseFile(path, size);
  std::string cmd = "mkntfs -F -Q -q -s " + std::to_string(sector_size) + (label.empty() ? "" : " -L " + Quote(label)) +
                    " " + Quote(path);
  return Run(cmd).status == 0;
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteHostFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fstest
