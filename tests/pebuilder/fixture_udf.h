// UDF images for Fennick's tests: trees written by genisoimage -udf and empty
// file systems made by mkudffs, stamped with the kit image tool's
// implementation identifier (tag checksum and descriptor CRC made anew so
// that 7z still takes the descriptor), and the hostile edits the reader must
// refuse, applied to the bytes of such an image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udf_fixture {

struct TreeFile {
  std::string path;  // "sub/name.bin"; folders are made as needed
  std::string content;
};

// genisoimage -udf of the tree (built in a scratch folder beside `image`).
void MakeGenisoUdf(const std::vector<TreeFile>& files, const std::string& image);
// An empty mkudffs file system of `blocks` 2048-byte blocks with extra
// options ("--udfrev=1.02 --ad=short").
void MakeEmptyUdf(const std::string& image, uint32_t blocks, const std::string& options);

// Writes `identifier` as the implementation identifier of every primary
// volume descriptor of both volume descriptor sequences.
void StampImplementation(const std::string& image, const std::string& identifier);

// `7z x -tudf` of the image into out (made fresh); false when 7z fails.
bool SevenZipExtract(const std::string& image, const std::string& out);

// The image's bytes, and writing them back.
std::vector<uint8_t> ReadImage(const std::string& image);
void WriteImage(const std::string& image, const std::vector<uint8_t>& bytes);

// Where things lie in an image: the partition's first block, and the byte
// offset of the file identifier descriptor whose name is `name` (8-bit
// compressed; the first one met in the image). 0 when there is none.
uint32_t PartitionStart(const std::vector<uint8_t>& bytes);
uint32_t PartitionLength(const std::vector<uint8_t>& bytes);
size_t FindIdentifier(const std::vector<uint8_t>& bytes, const std::string& name);
// The byte offset of the file entry the identifier at `fid` points to.
size_t EntryOf(const std::vector<uint8_t>& bytes, size_t fid);

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at);

}  // namespace udf_fixture
