// The matrix text file: loading, and a matrix that loaded saves and loads
// again to the same shape.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "PacketTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vkfuzz::SilenceReports();
  vkfuzz::TMemoryFile file(data, size);
  CDoubleMatrix matrix;
  if (matrix.LoadFromFile(file.Path()) != 0) return 0;
  // Saving replaces a file (through a temporary one beside it), so the copy
  // is a real file; in memory where there is such a folder, since every save
  // is flushed to disk.
  static const struct TCopy {
    std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                       "/vk-fuzz-matrix-" + std::to_string(::getpid()) + ".txt";
    ~TCopy() { ::unlink(path.c_str()); }
  } copyFile;
  const std::string& copy = copyFile.path;
  if (matrix.SaveToFile(copy) != 0) std::abort();
  CDoubleMatrix back;
  if (back.LoadFromFile(copy) != 0 || back.Rows() != matrix.Rows() ||
      back.Columns() != matrix.Columns())
    std::abort();
  return 0;
}
