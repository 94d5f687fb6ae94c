#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vkplatform {

// Replaces `fileName` with `size` bytes of `data`: the bytes go to a
// temporary file in the same folder, which is flushed to disk and renamed
// over the target: a failure at any step leaves the old file as it was. A
// symbolic link stays a link (the file it points to is replaced) and the file
// keeps its permissions. In a folder that takes no new file, a writable file
// is rewritten in place instead: its space is reserved first and its old
// contents are written back when the new ones cannot be written whole (only
// a crash in the middle of that rewrite can leave it mixed; there is no
// other way to save there). Returns 0 on success, -1 on failure.
int WriteFileAtomically(const std::string& fileName, const char* data, size_t size);

// The file a chain of symbolic links ends at (the path itself when it is no
// link); a dangling link gives the path it points to.
std::string ResolveLinks(const std::string& fileName);

// Why a file was not read.
enum class ReadFailure { none, cannotOpen, notAFile, tooLarge };

// Reads a whole file of at most `limit` bytes. Only regular files are read:
// a device ("/dev/zero"), a FIFO or a socket would never end or never
// answer, and is refused at once (without waiting for a writer). Returns
// false when the file cannot be opened or read, is no regular file, or is
// larger than the limit; `why` (when given) says which.
bool ReadWholeFile(const std::string& fileName, std::string& contents, size_t limit = SIZE_MAX,
                   ReadFailure* why = nullptr);

// The text said when a file is refused for its size: it names the file and
// the limit ("Файл \"...\" не открыт: он больше 64 МБ.").
std::string TooLargeText(const std::string& fileName, size_t limit);

}  // namespace vkplatform
