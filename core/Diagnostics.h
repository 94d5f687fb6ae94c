#pragma once
// Reporting of contract violations and progress logging.
#include <functional>

#include "VKTypes.h"

// Reports a violated condition: source file, build date of that source, line
// and the text of the condition. The user may end the process or go on; when
// this returns the caller goes on.
void AssertFunction(const char* file, const char* date, int line, const char* expression);
// The same from inside a plug-in, naming the plug-in instance.
void PAssertFunction(const char* file, const char* date, int line, const char* pluginName,
                     const char* expression);

// Marks a progress step (scheme loading, node initialisation ...). Writes
// nothing unless a log hook is installed or VEKTRA_LOG is set in the
// environment (then the line goes to standard error).
void LogMessage(const AnsiString& message, bool flag = false);

using LogHook = std::function<void(const AnsiString& message, bool flag)>;
// Installs a hook that receives every LogMessage; returns the previous one.
LogHook SetLogHook(LogHook hook);

namespace vkcore {
// The texts that AssertFunction / PAssertFunction present (without the
// closing question), exposed for tests and for logging.
AnsiString AssertDetails(const char* file, const char* date, int line, const char* expression);
AnsiString AssertMessage(const char* file, const char* date, int line, const char* expression);
AnsiString PAssertMessage(const char* file, const char* date, int line, const char* pluginName,
                          const char* expression);
}  // namespace vkcore

// Checks a condition and reports it with its own text when it fails.
#define VK_ASSERT(cond) \
  ((cond) ? static_cast<void>(0) : AssertFunction(__FILE__, __DATE__, __LINE__, #cond))
// Checks a condition and reports it with the given expression text.
#define VK_ASSERT_TEXT(cond, text) \
  ((cond) ? static_cast<void>(0) : AssertFunction(__FILE__, __DATE__, __LINE__, text))
// The plug-in form: `plugin` is the plug-in instance's name (const char*).
#define VK_PASSERT(cond, plugin) \
  ((cond) ? static_cast<void>(0) : PAssertFunction(__FILE__, __DATE__, __LINE__, plugin, #cond))
#define VK_PASSERT_TEXT(cond, plugin, text) \
  ((cond) ? static_cast<void>(0) : PAssertFunction(__FILE__, __DATE__, __LINE__, plugin, text))
