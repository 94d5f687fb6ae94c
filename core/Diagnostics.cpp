#include "Diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "../platform/Report.h"

namespace {

std::mutex g_logMutex;
LogHook g_logHook;

AnsiString Format(const char* fmt, const AnsiString& a) {
  int n = std::snprintf(nullptr, 0, fmt, a.c_str());
  AnsiString out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, a.c_str());
  return out;
}

AnsiString BaseName(const char* file) {
  AnsiString path = file ? file : "";
  AnsiString::size_type cut = path.find_last_of("/\\");
  return cut == AnsiString::npos ? path : path.substr(cut + 1);
}

void Present(const AnsiString& message, const char* file, const char* date, int line,
             const char* expression, const char* plugin) {
  LogMessage(message, false);
  vkplatform::Report r;
  r.caption = "Ошибка";
  r.text = message +
           "\r\nТекст ошибки можно скопировать в буфер обмена с помощью клавиш Ctrl-C"
           "\r\n\r\nПрервать выполнение программы?";
  r.icon = vkplatform::MsgIcon::Error;
  r.buttons = vkplatform::MsgButtons::YesNo;
  r.defaultAnswer = vkplatform::MsgAnswer::No;
  r.assertion = true;
  r.file = file ? file : "";
  r.date = date ? date : "";
  r.line = line;
  r.expression = expression ? expression : "";
  r.plugin = plugin ? plugin : "";
  if (vkplatform::ShowReport(r) == vkplatform::MsgAnswer::Yes) {
    // The user chose to end the program: at once, without clean-up.
    std::_Exit(3);
  }
}

}  // namespace

namespace vkcore {

AnsiString AssertDetails(const char* file, const char* date, int line, const char* expression) {
  AnsiString name = BaseName(file);
  AnsiString d = date ? date : "";
  AnsiString e = expression ? expression : "";
  int n = std::snprintf(nullptr, 0, "Файл %s (%s) , строка %d\r\n%s\r\n", name.c_str(), d.c_str(),
                        line, e.c_str());
  AnsiString out(static_cast<size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, "Файл %s (%s) , строка %d\r\n%s\r\n", name.c_str(),
                d.c_str(), line, e.c_str());
  return out;
}

AnsiString AssertMessage(const char* file, const char* date, int line, const char* expression) {
  return Format(
      "Во время выполнения программы возникла неизвестная ошибка.\r\n\r\nИнформация об "
      "ошибке:\r\n%s",
      AssertDetails(file, date, line, expression));
}

AnsiString PAssertMessage(const char* file, const char* date, int line, const char* pluginName,
                          const char* expression) {
  AnsiString head = Format("При обработке команды \"%s\" возникла неизвестная ошибка.",
                           pluginName ? pluginName : "");
  return head + "\r\n\r\nИнформация об ошибке:\r\n" +
         AssertDetails(file, date, line, expression);
}

}  // namespace vkcore

void AssertFunction(const char* file, const char* date, int line, const char* expression) {
  Present(vkcore::AssertMessage(file, date, line, expression), file, date, line, expression,
          nullptr);
}

void PAssertFunction(const char* file, const char* date, int line, const char* pluginName,
                     const char* expression) {
  Present(vkcore::PAssertMessage(file, date, line, pluginName, expression), file, date, line,
          expression, pluginName ? pluginName : "");
}

void LogMessage(const AnsiString& message, bool flag) {
  LogHook hook;
  {
    std::lock_guard<std::mutex> lock(g_logMutex);
    hook = g_logHook;
  }
  if (hook) {
    hook(message, flag);
    return;
  }
  static const bool toStderr = std::getenv("VEKTRA_LOG") != nullptr;
  if (toStderr) std::fprintf(stderr, "%s\n", message.c_str());
}

LogHook SetLogHook(LogHook hook) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  LogHook previous = std::move(g_logHook);
  g_logHook = std::move(hook);
  return previous;
}
