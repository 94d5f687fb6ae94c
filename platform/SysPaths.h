#pragma once
// Folders of this platform that the standard directories are built from.
// Every path uses '/' and has no trailing separator; a folder that cannot be
// determined is "".
#include <string>

namespace vkplatform {

// The running executable's file and its directory (from /proc/self/exe).
std::string ExecutablePath();
std::string ExecutableDir();
// The user's configuration folder ($XDG_CONFIG_HOME, usually ~/.config).
std::string UserConfigDir();
// The system-wide data folder shared by all users (the first system entry of
// $XDG_DATA_DIRS, usually /usr/local/share).
std::string SharedDataDir();
// The user's documents folder (XDG "DOCUMENTS", usually ~/Documents).
std::string DocumentsDir();

}  // namespace vkplatform
