#include "VKPaths.h"

#include <cstring>

#include "../platform/SysPaths.h"
#include "../platform/TextCodec.h"

namespace {

struct PathParts {
  std::string name;
  std::string ext;
  bool hasDot = false;
};

// Directories end at the last slash of either kind (paths written on other
// systems use backslashes); the extension starts after the last dot of the
// file part.
PathParts Split(const char* path) {
  PathParts parts;
  if (!path) return parts;
  std::string p(path);
  std::string::size_type slash = p.find_last_of("/\\");
  std::string file = slash == std::string::npos ? p : p.substr(slash + 1);
  // A drive prefix such as "C:" without a slash.
  if (slash == std::string::npos && file.size() >= 2 && file[1] == ':') file = file.substr(2);
  std::string::size_type dot = file.rfind('.');
  if (dot == std::string::npos) {
    parts.name = file;
  } else {
    parts.name = file.substr(0, dot);
    parts.ext = file.substr(dot + 1);
    parts.hasDot = true;
  }
  return parts;
}

const char* const kMacros[] = {"[application]", "[config]",  "[work]",      "[shared]",
                               "[detectors]",   "[markers]", "[schemes]",   "[resources]",
                               "[plugins]",     "[help]",    "[user]",      "[profiles]",
                               "[defprofiles]"};

std::string Join(const std::string& base, const char* suffix) { return base + suffix; }

}  // namespace

namespace stdex {

std::string ExtractFileName(const char* path) { return Split(path).name; }

std::string ExtractFileExt(const char* path) { return Split(path).ext; }

std::string ExtractFullFileName(const char* path) {
  PathParts parts = Split(path);
  return parts.name + "." + parts.ext;
}

}  // namespace stdex

AnsiString ExExtractFileName(const char* path) { return stdex::ExtractFileName(path); }
AnsiString ExExtractFileExt(const char* path) { return stdex::ExtractFileExt(path); }
AnsiString ExExtractFullFileName(const char* path) { return stdex::ExtractFullFileName(path); }

AnsiString GetVKDir(EVektraDirectories kind) {
  switch (kind) {
    case dirApplication: return vkplatform::ExecutableDir();
    case dirConfig: return Join(vkplatform::UserConfigDir(), "/korvan/vektra");
    case dirWork: return GetVKDir(dirUser);
    case dirShared: return Join(vkplatform::SharedDataDir(), "/korvan shared");
    case dirDetectors: return GetVKDir(dirShared) + "/detectors";
    case dirMarkers: return GetVKDir(dirConfig) + "/markers";
    case dirSchemes: return GetVKDir(dirApplication) + "/schemes";
    case dirResources: return GetVKDir(dirSchemes) + "/resources";
    // The package folder is spelled "Plugins" everywhere: the build tree and
    // the installation use that name, and file names are case-sensitive here.
    case dirPlugins: return GetVKDir(dirApplication) + "/Plugins";
    case dirHelp: return GetVKDir(dirApplication) + "/help";
    case dirUser: return Join(vkplatform::DocumentsDir(), "/korvan vektra");
    case dirProfiles: return GetVKDir(dirConfig) + "/profiles";
    case dirDefProfiles: return GetVKDir(dirConfig) + "/defprofiles";
  }
  return AnsiString();
}

AnsiString GetVKDirMacro(EVektraDirectories kind) {
  if (kind < dirApplication || kind > dirDefProfiles) return AnsiString();
  return kMacros[kind];
}

AnsiString FormatPath(AnsiString path) {
  if (path.empty()) return path;
  for (int k = dirApplication; k <= dirDefProfiles; ++k)
    ReplaceString(path, kMacros[k], GetVKDir(static_cast<EVektraDirectories>(k)));
  return path;
}

AnsiString UnformatPath(AnsiString path) {
  if (path.empty()) return path;
  for (int k = dirDefProfiles; k >= dirApplication; --k) {
    AnsiString dir = GetVKDir(static_cast<EVektraDirectories>(k));
    if (!dir.empty()) ReplaceString(path, dir, kMacros[k]);
  }
  return path;
}

AnsiString GetConfigFileName() { return GetVKDir(dirConfig) + "/config.xml"; }

int ReplaceString(AnsiString& text, const AnsiString& what, const AnsiString& with) {
  if (what.empty()) return 0;
  const AnsiString lowerWhat = vkplatform::Utf8LowerSameLength(what);
  AnsiString lowerText = vkplatform::Utf8LowerSameLength(text);
  // When the replacement itself contains what is replaced, searching from
  // the start again would never end: the search then goes on after the
  // inserted text. Otherwise every replacement is followed by a search from
  // the start, so that text brought together by a replacement is replaced
  // too ("aab", "ab" -> "b" gives "b").
  const bool restart = vkplatform::Utf8LowerSameLength(with).find(lowerWhat) == AnsiString::npos;
  // A replacement that grows the text can, in rare patterns, keep producing
  // new matches; past this many the search also goes on after the insert.
  size_t restartsLeft = 4 * text.size() + 1024;
  // The lower-case copy has the same byte positions as the text, so every
  // match found in it is replaced at the same place in both.
  // The copy receives the replacement in lower case as well, so that a
  // match it takes part in is found whatever its case.
  const AnsiString lowerWith = vkplatform::Utf8LowerSameLength(with);
  AnsiString::size_type pos = lowerText.find(lowerWhat);
  while (pos != AnsiString::npos) {
    text.replace(pos, what.size(), with);
    lowerText.replace(pos, what.size(), lowerWith);
    if (restart && restartsLeft > 0) {
      --restartsLeft;
      // Searching from the start: no match begins before pos was replaced, so
      // a new one cannot begin earlier than what.size() - 1 bytes before it.
      pos = pos >= what.size() - 1 ? lowerText.find(lowerWhat, pos - (what.size() - 1))
                                   : lowerText.find(lowerWhat);
    } else {
      pos = lowerText.find(lowerWhat, pos + with.size());
    }
  }
  return 0;
}
