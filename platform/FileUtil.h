#pragma once
#include <string>

namespace vkplatform {

// Replaces `fileName` with `size` bytes of `data`: the bytes go to a
// temporary file in the same folder, which is flushed to disk and renamed
// over the target. A failure at any step leaves the old file as it was.
// Returns 0 on success, -1 on failure.
int WriteFileAtomically(const std::string& fileName, const char* data, size_t size);

// Reads a whole file. Returns false when it cannot be opened or read.
bool ReadWholeFile(const std::string& fileName, std::string& contents);

}  // namespace vkplatform
