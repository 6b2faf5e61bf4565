// Writes an implementation identifier into every primary volume descriptor
// of a UDF image's two descriptor sequences, with the tag checksum and the
// descriptor CRC made anew, so that other readers (7z) still take it. For
// the tests and the benchmark, which make their images with genisoimage and
// mkudffs and present them as the kit image tool's.
#pragma once

#include <string>

// False (with *error set) when the image has no anchor at block 256 or no
// primary volume descriptor.
bool StampUdfImplementation(const std::string& image, const std::string& identifier, std::string* error);
