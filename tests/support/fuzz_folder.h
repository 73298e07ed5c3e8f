// Helpers of the fuzz targets, built without coverage feedback: a scratch folder (on a RAM disk
// where there is one, emptied between runs, removed at exit) and file and byte helpers.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace fuzzing {

// The folder's path, created on first use.
const std::string& ScratchFolder();

// Removes everything in the folder (files, and directories one level deep).
void EmptyFolder(const std::string& folder);

// The names in the folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// Fills `bytes` with `size` pseudo-random bytes, the same for the same seed.
void RandomBytes(uint32_t seed, size_t size, std::vector<uint8_t>* bytes);

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteWhole(const std::string& path, const uint8_t* data, size_t size);

// True when a line (bytes between LF and CR) runs past 1000 bytes: line readers cut it in pieces,
// so that its line ends no longer read alike.
bool HasLongLine(const uint8_t* data, size_t size);

// The bytes with every CR LF and lone CR turned into LF.
std::vector<uint8_t> WithLfEndings(const uint8_t* data, size_t size);

// Stops the process with a message: libFuzzer keeps the input that did it.
[[noreturn]] void Finding(const char* target, const char* what);

}  // namespace fuzzing
