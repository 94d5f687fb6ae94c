#pragma once
// File-name splitting, the system's standard directories, the path macros
// that keep stored paths portable, and case-insensitive replacement.
#include <string>

#include "VKTypes.h"

namespace stdex {
// "dir/scheme.xml" -> "scheme" (no directory, no extension).
std::string ExtractFileName(const char* path);
// "dir/scheme.xml" -> "xml" (no dot); "" when there is none.
std::string ExtractFileExt(const char* path);
// "dir/scheme.xml" -> "scheme.xml"; a name without extension gets a dot: "file.".
std::string ExtractFullFileName(const char* path);
}  // namespace stdex

AnsiString ExExtractFileName(const char* path);
AnsiString ExExtractFileExt(const char* path);
AnsiString ExExtractFullFileName(const char* path);

enum EVektraDirectories {
  dirApplication = 0,
  dirConfig = 1,
  dirWork = 2,
  dirShared = 3,
  dirDetectors = 4,
  dirMarkers = 5,
  dirSchemes = 6,
  dirResources = 7,
  dirPlugins = 8,
  dirHelp = 9,
  dirUser = 10,
  dirProfiles = 11,
  dirDefProfiles = 12
};

// The directory of `kind`, without a trailing separator; "" for an unknown
// value. Nothing is created.
AnsiString GetVKDir(EVektraDirectories kind);
// The macro that stands for `kind` in stored paths ("[schemes]"); "" for an
// unknown value.
AnsiString GetVKDirMacro(EVektraDirectories kind);
// Expands the macros of a stored path.
AnsiString FormatPath(AnsiString path);
// Puts macros into a path, deeper directories first.
AnsiString UnformatPath(AnsiString path);
// The user's configuration file: GetVKDir(dirConfig) + "/config.xml".
AnsiString GetConfigFileName();
// Replaces every occurrence of `what` in `text` by `with`, matching
// case-insensitively. Text inserted by a replacement is not searched again.
// Returns 0.
int ReplaceString(AnsiString& text, const AnsiString& what, const AnsiString& with);
