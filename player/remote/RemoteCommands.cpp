#include "remote/RemoteCommands.h"

#include <QCoreApplication>

#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "Plugin.h"
#include "SchemeManager.h"
#include "VKXml.h"
#include "platform/Report.h"

namespace vkremote {

namespace {

// The texts of the system's own result codes, and of the language's.
std::string CodeText(int code) {
  switch (code) {
    case 0: return "Нет ошибок";
    case VKT_ERROR: return "Ошибка";
    case VKT_QUEUE_FULL: return "Очередь заполнена";
    case VKT_NOT_CONNECTED: return "Не подключено";
    case VKT_WRONG_TYPE: return "Неверный тип";
    case VKT_STOP: return "Схема остановлена";
    case VKT_NO_PLUGIN: return "Нет такого модуля";
    case VKT_NO_INPUT: return "Нет такого входа";
    case VKT_NO_OUTPUT: return "Нет такого выхода";
    case VKT_INCOMPATIBLE: return "Несовместимо";
    case VKT_NO_CLASS: return "Нет такого класса";
    case VKT_NAME_EXISTS: return "Имя уже существует";
    case VKT_NOT_SUPPORTED: return "Модуль не поддерживает запрос";
    case kSyntaxError: return "Синтаксическая ошибка";
    case kParameterNotAllowed: return "Лишний параметр";
    case kMissingParameter: return "Не хватает параметра";
    case kUnknownCommand: return "Неизвестная команда";
    case kNotFinished: return "Операция не завершилась";
    case kNoScheme: return "Схема не открыта";
    case kDataOutOfRange: return "Значение вне допустимых пределов";
    case kBadParameter: return "Неверный параметр";
    case kQueueOverflow: return "Очередь ошибок переполнена";
    default: return "Ошибка";
  }
}

// What a client sent, fit to be said back: control characters, DEL and
// bytes that are no UTF-8 become "\xNN" (an answer is one line of UTF-8).
std::string Printable(const std::string& text) {
  std::string out;
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool sound = length > 0 && i + length <= n && !(c >= 0x80 && c < 0xC2) && c <= 0xF4;
    for (size_t k = 1; sound && k < length; ++k) sound = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (sound && length == 1 && (c < 0x20 || c == 0x7F)) sound = false;
    if (!sound) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

// The bit of the standard event status register an error sets: command
// errors (-100…-199) 32, execution errors (-200…-299) 16, query errors
// (-400…-499) 4, device errors (-300…-399 and the system's own codes) 8.
int EventBitOf(int code) {
  if (code <= -100 && code > -200) return 32;
  if (code <= -200 && code > -300) return 16;
  if (code <= -400 && code > -500) return 4;
  return 8;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c == '\n' || c == '\r' ? ' ' : c;
  }
  return out + '"';
}

// A definite-length block: "#" digits-count, length, the bytes.
std::string Block(const std::string& data) {
  const std::string length = std::to_string(data.size());
  return "#" + std::to_string(length.size()) + length + data;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// "SCHeme:OPEN" and "SCH:OPEN" are one command: each word of the header
// matches its long form or its short form (the first four letters, or three
// when the fourth is a vowel).
std::string ShortWord(std::string word) {
  if (!word.empty() && word[0] == '*') return word;
  const bool query = !word.empty() && word.back() == '?';
  if (query) word.pop_back();
  if (word.size() > 4) word = word.substr(0, std::string("AEIOU").find(word[3]) != std::string::npos ? 3 : 4);
  return query ? word + "?" : word;
}

std::string Canonical(const std::string& header) {
  std::string out, word;
  for (char c : Upper(header) + ":") {
    if (c == ':') {
      if (!out.empty() || !word.empty()) out += (out.empty() ? "" : ":") + ShortWord(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return out;
}

std::string XmlText(xmlNode* node) {
  xmlBuffer* buffer = xmlBufferCreate();
  xmlNodeDump(buffer, node->doc, node, 0, 0);
  std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return text;
}

}  // namespace

std::string CanonicalHeader(const std::string& line) {
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  const size_t blank = line.find_first_of(" \t", start);
  return Canonical(line.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
}

bool SplitArguments(const std::string& text, std::vector<std::string>& arguments) {
  arguments.clear();
  size_t i = 0;
  const size_t n = text.size();
  auto skipSpaces = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  };
  skipSpaces();
  if (i == n) return true;
  for (;;) {
    skipSpaces();
    std::string value;
    if (i < n && (text[i] == '"' || text[i] == '\'')) {
      const char quote = text[i++];
      bool closed = false;
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed) return false;
      skipSpaces();
    } else {
      while (i < n && text[i] != ',') value += text[i++];
      while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
    }
    arguments.push_back(value);
    if (i == n) return true;
    if (text[i] != ',') return false;
    ++i;
  }
}

void CRemoteCommands::Error(int client, int code, const std::string& text) {
  auto& queue = errors_[client];
  status_[client].events |= EventBitOf(code);
  const std::string full = text.empty() ? CodeText(code) : CodeText(code) + ": " + Printable(text);
  if (queue.size() >= kMaxErrors) {
    queue.back() = {kQueueOverflow, "Очередь ошибок переполнена"};
    return;
  }
  queue.emplace_back(code, full);
}

std::string CRemoteCommands::PopError(int client) {
  auto& queue = errors_[client];
  if (queue.empty()) return "0," + Quoted(CodeText(0));
  const auto [code, text] = queue.front();
  queue.pop_front();
  return std::to_string(code) + "," + Quoted(text);
}

TReply CRemoteCommands::Run(int client, const std::string& line) {
  // The header, then its arguments after the first blank.
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return TReply::None();
  const size_t blank = line.find_first_of(" \t", start);
  const std::string header = line.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
  TArgs args;
  if (blank != std::string::npos && !SplitArguments(line.substr(blank + 1), args)) {
    Error(client, kSyntaxError, "кавычки не закрыты или лишний текст после строки");
    return TReply::None();
  }
  // A zero byte would cut a file name short: such an argument is refused.
  for (const std::string& a : args)
    if (a.find('\0') != std::string::npos) {
      Error(client, kBadParameter, "нулевой байт в параметре \"" + a + "\"");
      return TReply::None();
    }
  // What the command itself would say in a message box (in this thread)
  // goes to the client's error queue. Reports of other threads meanwhile
  // (a module's worker) are none of the command's: they go where they went
  // before (the hook before, or standard error).
  struct TSaid {
    std::mutex mutex;
    std::vector<vkplatform::Report> reports;
    bool done = false;
    vkplatform::ReportHook before;
  };
  auto said = std::make_shared<TSaid>();
  said->before = vkplatform::SetReportHook(vkplatform::ReportHook());
  const std::thread::id commandThread = std::this_thread::get_id();
  vkplatform::SetReportHook([said, commandThread](const vkplatform::Report& r) {
    {
      std::lock_guard<std::mutex> lock(said->mutex);
      if (!said->done && std::this_thread::get_id() == commandThread) {
        said->reports.push_back(r);
        return r.defaultAnswer;
      }
    }
    if (said->before) return said->before(r);
    std::fprintf(stderr, "Vektra: %s%s%s\n", r.caption.c_str(), r.caption.empty() ? "" : ": ", r.text.c_str());
    return r.defaultAnswer;
  });
  const size_t errorsBefore = errors_[client].size();
  TReply reply = Dispatch(client, Canonical(header), args);
  const bool commandSaid = errors_[client].size() > errorsBefore;
  vkplatform::SetReportHook(said->before);
  std::vector<vkplatform::Report> reports;
  {
    std::lock_guard<std::mutex> lock(said->mutex);
    said->done = true;
    reports.swap(said->reports);
  }
  // A failed internal check is the program's own concern: where the command
  // said what failed, the check's text (a source line) is not the client's.
  for (const auto& r : reports)
    if (r.icon == vkplatform::MsgIcon::Error || r.icon == vkplatform::MsgIcon::Warning ||
        (r.assertion && !commandSaid))
      Error(client, VKT_ERROR, r.caption.empty() ? r.text : r.caption + ": " + r.text);
  return reply;
}

CBasePlugin* CRemoteCommands::Module(int client, const TArgs& args, size_t count) {
  if (!host_->Scheme()) {
    Error(client, kNoScheme, "");
    return nullptr;
  }
  if (!Needs(client, args, count)) return nullptr;
  if (args[0].empty()) {
    Error(client, kBadParameter, "не указан модуль");
    return nullptr;
  }
  CBasePlugin* module = nullptr;
  if (host_->Scheme()->GetPlugin(module, args[0]) != 0 || !module) {
    Error(client, VKT_NO_PLUGIN, args[0]);
    return nullptr;
  }
  return module;
}

TReply CRemoteCommands::DisplayQuery(int client, const TArgs& args, const std::string& question, bool block) {
  CBasePlugin* module = Module(client, args, 1);
  if (!module) return block ? TReply::Text("#10") : TReply::None();
  AnsiString answer;
  const int rc = module->Query(question, answer);
  if (rc != VKT_OK) {
    Error(client, rc, args[0] + (answer.empty() ? std::string() : ": " + answer));
    return block ? TReply::Text("#10") : TReply::None();
  }
  if (block) return TReply::Text(Block(answer));
  return answer.empty() ? TReply::None() : TReply::Text(answer);
}

std::map<std::string, unsigned long long> CRemoteCommands::SweepsShown() const {
  std::map<std::string, unsigned long long> shown;
  CSchemeManager* scheme = host_->Scheme();
  if (!scheme || !scheme->Started()) return shown;
  for (unsigned i = 0; i < scheme->GetPluginCount(); ++i) {
    CBasePlugin* module = nullptr;
    AnsiString answer;
    // The sweeps whose markers have been placed: a marker read after *OPC?
    // reads the sweep it waited for.
    if (scheme->GetPlugin(module, i) == 0 && module && module->Query("sweeps marked", answer) == VKT_OK)
      shown[module->Name()] = std::strtoull(answer.c_str(), nullptr, 10);
  }
  return shown;
}

bool CRemoteCommands::Settled() const {
  CSchemeManager* scheme = host_->Scheme();
  if (!scheme || !scheme->Started()) return true;
  for (unsigned i = 0; i < scheme->GetPluginCount(); ++i) {
    CBasePlugin* module = nullptr;
    AnsiString answer;
    if (scheme->GetPlugin(module, i) == 0 && module && module->Query("busy", answer) == VKT_OK && answer == "1")
      return false;
  }
  if (!runStarted_) return true;
  // Every display has taken a whole sweep since the run was started.
  for (const auto& [name, sweeps] : SweepsShown()) {
    const auto before = sweepsAtStart_.find(name);
    if (before != sweepsAtStart_.end() && sweeps <= before->second) return false;
  }
  return true;
}

bool CRemoteCommands::Needs(int client, const TArgs& args, size_t count) {
  if (args.size() == count) return true;
  Error(client, args.size() > count ? kParameterNotAllowed : kMissingParameter,
        "ожидается параметров: " + std::to_string(count));
  return false;
}

// Holds the client's next commands until every operation before has taken
// effect (*OPC?, *OPC, *WAI); `answer` is said then (none when empty), and
// *OPC sets the "operation complete" event.
TReply CRemoteCommands::WaitSettled(int client, std::string answer, bool setOperationComplete) {
  TReply r;
  r.ready = [this] { return Settled(); };
  r.late = [this, client, answer, setOperationComplete] {
    runStarted_ = false;
    if (setOperationComplete) status_[client].events |= 1;
    return answer;
  };
  r.timeoutSeconds = kOpcTimeoutSeconds;
  r.onTimeout = [this, client, answer] {
    runStarted_ = false;
    Error(client, kNotFinished, "за 60 с");
    return answer.empty() ? answer : std::string("0");
  };
  return r;
}

TReply CRemoteCommands::Dispatch(int client, const std::string& h, const TArgs& a) {
  auto needs = [&](size_t count) { return Needs(client, a, count); };
  CSchemeManager* scheme = host_->Scheme();
  // The common commands every instrument answers.
  if (h == "*IDN?") {
    return TReply::Text("Korvan,Vektra Launcher,0," + QCoreApplication::applicationVersion().toStdString());
  }
  if (h == "*CLS") {
    errors_[client].clear();
    status_[client].events = 0;
    return TReply::None();
  }
  if (h == "*OPC?") return WaitSettled(client, "1", false);
  if (h == "*OPC") return WaitSettled(client, std::string(), true);
  if (h == "*WAI") return WaitSettled(client, std::string(), false);
  if (h == "*TST?") return TReply::Text("0");  // nothing to test beyond answering: passed
  if (h == "*ESR?") {
    const int events = status_[client].events;
    status_[client].events = 0;
    return TReply::Text(std::to_string(events));
  }
  if (h == "*ESE?" || h == "*SRE?")
    return TReply::Text(std::to_string(h == "*ESE?" ? status_[client].eventEnable : status_[client].serviceEnable));
  if (h == "*ESE" || h == "*SRE") {
    if (!needs(1)) return TReply::None();
    char* end = nullptr;
    const long mask = std::strtol(a[0].c_str(), &end, 10);
    if (a[0].empty() || *end != '\0') {
      Error(client, kBadParameter, a[0]);
      return TReply::None();
    }
    if (mask < 0 || mask > 255) {
      Error(client, kDataOutOfRange, a[0] + " (0…255)");
      return TReply::None();
    }
    (h == "*ESE" ? status_[client].eventEnable : status_[client].serviceEnable) = static_cast<int>(mask);
    return TReply::None();
  }
  if (h == "*STB?") {
    // Bit 2: an error waits in the queue; bit 5: an enabled event; bit 6:
    // an enabled summary (no service requests are sent on this port).
    const TStatus& st = status_[client];
    int byte = (errors_[client].empty() ? 0 : 4) | ((st.events & st.eventEnable) ? 32 : 0);
    if (byte & st.serviceEnable & ~64) byte |= 64;
    return TReply::Text(std::to_string(byte));
  }
  if (h == "SYST:ERR?") return TReply::Text(PopError(client));
  if (h == "SYST:VERS?") return TReply::Text("1999.0");

  // A module's window may be running a nested loop (a menu, a progress
  // dialog) in which this command came: nothing may close, reload or
  // restart the modules meanwhile.
  const bool changesModules = h == "SCH:OPEN" || h == "SCH:CLOS" || h == "SCH:STOP" || h == "SCH:STAR" ||
                              h == "PROF:OPEN" || h == "PROF:REST" || h == "MOD:STAT" || h == "RUN:STAR" ||
                              h == "RUN:STOP" || h == "*RST";
  if (changesModules && scheme && scheme->Busy()) {
    Error(client, VKT_ERROR, "модуль занят окном; повторите позже");
    return TReply::None();
  }

  if (h == "*RST") {
    // Back to the scheme's own values (what a profile restore does); no
    // operation is waited for any more.
    if (scheme) scheme->RestoreProfile();
    runStarted_ = false;
    return TReply::None();
  }
  if (h == "SCH:OPEN") {
    if (!needs(1)) return TReply::None();
    const int rc = host_->OpenScheme(a[0]);
    if (rc != 0) Error(client, rc, a[0]);
    runStarted_ = false;
    return TReply::None();
  }
  if (h == "SCH:NAME?") return TReply::Text(Quoted(host_->Title()));
  if (h == "SCH:STAT?") return TReply::Text(!scheme ? "CLOSED" : scheme->Started() ? "RUNNING" : "STOPPED");
  if (h == "SCH:CLOS" || h == "SCH:STOP" || h == "SCH:STAR") {
    if (!scheme) {
      Error(client, kNoScheme, "");
      return TReply::None();
    }
    if (h == "SCH:CLOS") host_->CloseScheme();
    else if (h == "SCH:STOP" && scheme->Started() && scheme->Stop() != 0) Error(client, VKT_ERROR, "");
    else if (h == "SCH:STAR" && !scheme->Started() && host_->StartScheme() != 0) Error(client, VKT_ERROR, "");
    runStarted_ = false;
    return TReply::None();
  }

  if (h == "PROF:SAVE" || h == "PROF:OPEN" || h == "PROF:REST") {
    if (!scheme) {
      Error(client, kNoScheme, "");
      return TReply::None();
    }
    if (h == "PROF:REST") {
      if (needs(0)) scheme->RestoreProfile();
      return TReply::None();
    }
    if (!needs(1)) return TReply::None();
    // A profile that cannot be read is said as such (the scheme's own check
    // would say only that it failed); its size is checked where it is read.
    struct stat info;
    if (h == "PROF:OPEN" && (::stat(a[0].c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(a[0].c_str(), R_OK) != 0)) {
      Error(client, VKT_ERROR, "Невозможно открыть файл \"" + a[0] + "\".");
      return TReply::None();
    }
    const int rc = h == "PROF:SAVE" ? scheme->SaveProfile(a[0].c_str()) : scheme->OpenProfile(a[0].c_str());
    if (rc != 0) Error(client, rc, a[0]);
    return TReply::None();
  }

  if (h == "MOD:CAT?") {
    if (!scheme) return TReply::Text("\"\"");
    std::string names;
    for (unsigned i = 0; i < scheme->GetPluginCount(); ++i) {
      CBasePlugin* module = nullptr;
      if (scheme->GetPlugin(module, i) == 0 && module) names += (names.empty() ? "" : ",") + Quoted(module->Name());
    }
    return TReply::Text(names.empty() ? "\"\"" : names);
  }
  if (h == "MOD:STAT?") {
    CBasePlugin* module = Module(client, a, 1);
    if (!module) return TReply::Text("\"\"");
    VKCore::CXMLDocument doc(false);
    doc.New("parameters");
    VKCore::AddAttribute(doc.Root(), "nodeName", module->Name());
    module->DoSerialize(doc.Root(), nullptr);
    // One answer, one line: line breaks in the text become character
    // references, which read back as the same text.
    std::string text;
    for (char ch : XmlText(doc.Root())) {
      if (ch == '\n') text += "&#10;";
      else if (ch == '\r') text += "&#13;";
      else text += ch;
    }
    return TReply::Text(text);
  }
  if (h == "MOD:STAT") {
    CBasePlugin* module = Module(client, a, 2);
    if (!module) return TReply::None();
    VKCore::CXMLDocument doc(false);
    if (doc.OpenFromText(a[1]) != 0 || !doc.Root()) {
      Error(client, kBadParameter, "не XML: " + a[1].substr(0, 80));
      return TReply::None();
    }
    const int rc = module->DoDeserialize(doc.Root(), nullptr);
    if (rc != 0) Error(client, rc < 0 ? rc : VKT_ERROR, module->Name());
    return TReply::None();
  }

  if (h == "RUN:STAR" || h == "RUN:STOP") {
    if (!scheme || !scheme->Started()) {
      Error(client, kNoScheme, "");
      return TReply::None();
    }
    const IRemoteHost::TControl control = host_->RunControl(h == "RUN:STAR");
    if (control == IRemoteHost::TControl::missing) {
      Error(client, VKT_NOT_SUPPORTED, "в схеме нет управления измерением");
      return TReply::None();
    }
    if (control == IRemoteHost::TControl::disabled) {
      if (h == "RUN:STAR") Error(client, VKT_ERROR, "запуск сейчас недоступен (прибор не подключён или измерение идёт)");
      return TReply::None();
    }
    if (h == "RUN:STAR") {
      sweepsAtStart_ = SweepsShown();
      runStarted_ = true;
    } else {
      runStarted_ = false;
    }
    host_->TriggerRun(h == "RUN:STAR");
    return TReply::None();
  }

  if (h == "TRAC:DATA?") return DisplayQuery(client, a, "trace", true);
  if (h == "MARK:VAL?" || h == "LINK:VAL?") {
    if (!needs(2)) return TReply::Text("");
    char* end = nullptr;
    const long index = std::strtol(a[1].c_str(), &end, 10);
    if (a[1].empty() || *end != '\0' || index < 0 || index > 9) {
      Error(client, kDataOutOfRange, "номер " + a[1] + " (0…9)");
      return TReply::Text("");
    }
    const std::string question = std::string(h == "MARK:VAL?" ? "marker " : "link ") + a[1];
    TReply r = DisplayQuery(client, {a[0]}, question, false);
    if (h == "LINK:VAL?" && r.hasAnswer) r.answer = Quoted(r.answer);
    if (!r.hasAnswer) return TReply::Text("");
    return r;
  }
  if (h == "MARK:STAT:RES") return DisplayQuery(client, a, "statistics reset", false);
  if (h == "REP:HTML" || h == "REP:PDF") {
    if (!needs(2)) return TReply::None();
    if (a[1].empty()) {
      Error(client, kBadParameter, "ожидается: модуль, файл");
      return TReply::None();
    }
    return DisplayQuery(client, {a[0]}, std::string("report ") + (h == "REP:HTML" ? "html " : "pdf ") + a[1], false);
  }
  if (h.rfind("CALC:LIM:", 0) == 0) return LimitCommand(client, h, a);
  // The results station: RESult:STARt "name","serial"[,"operator"],
  // RESult:LAST?, RESult:SERial? "name","serial", RESult:COUNt?,
  // RESult:RUNNing? (1 while a unit is being measured).
  if (h == "RES:STAR") {
    if (!needs(a.size() == 3 ? 3 : 2)) return TReply::None();
    if (a[1].empty() || a[1].find_first_of(" \t") != std::string::npos) {
      Error(client, kBadParameter, "серийный номер без пробелов: " + a[1]);
      return TReply::None();
    }
    return DisplayQuery(client, {a[0]}, "result start " + a[1] + (a.size() > 2 ? " " + a[2] : std::string()), false);
  }
  if (h == "RES:LAST?" || h == "RES:COUN?" || h == "RES:RUNN?") {
    const std::string question = h == "RES:LAST?" ? "result last" : h == "RES:COUN?" ? "result counts" : "result running";
    TReply r = DisplayQuery(client, a, question, false);
    return r.hasAnswer ? r : TReply::Text(h == "RES:LAST?" ? "\"\"" : "");
  }
  if (h == "RES:SER?") {
    if (!needs(2)) return TReply::Text("");
    TReply r = DisplayQuery(client, {a[0]}, "result serial " + a[1], false);
    return r.hasAnswer ? r : TReply::Text("\"\"");
  }
  Error(client, kUnknownCommand, h);
  return TReply::None();
}

// Limit lines of a display: CALCulate:LIMit:STATe, STATe?, DATA, DATA?,
// FAIL? (1 when the last judged sweep broke a limit) and VERDict?
// ("PASS|FAIL|NONE,worst margin,argument"); a trace number picks one
// trace, without one FAIL? and VERDict? answer for the whole display.
TReply CRemoteCommands::LimitCommand(int client, const std::string& h, const TArgs& a) {
  const bool query = h.back() == '?';
  const std::string what = h.substr(9);
  const bool wholeDisplay = (what == "FAIL?" || what == "VERD?") && a.size() < 2;
  const size_t wanted = what == "STAT" || what == "DATA" ? 3 : wholeDisplay ? 1 : 2;
  if (a.size() < wanted || a[0].empty()) {
    Error(client, kMissingParameter, "ожидается: модуль, номер трассы" + std::string(wanted == 3 ? ", значение" : ""));
    return query ? TReply::Text("") : TReply::None();
  }
  if (a.size() > wanted && !(what == "DATA" && a.size() > 3)) {
    Error(client, kParameterNotAllowed, h);
    return query ? TReply::Text("") : TReply::None();
  }
  std::string question;
  const std::string trace = wholeDisplay ? std::string() : " " + a[1];
  if (what == "STAT" || what == "STAT?") {
    std::string how;
    if (what == "STAT") {
      const std::string v = Upper(a[2]);
      if (v == "ON" || v == "1") how = " on";
      else if (v == "OFF" || v == "0") how = " off";
      else {
        Error(client, kDataOutOfRange, "ожидается ON или OFF: " + a[2]);
        return TReply::None();
      }
    }
    question = "limits state" + trace + how;
  } else if (what == "DATA" || what == "DATA?") {
    question = "limits data" + trace;
    if (what == "DATA") {
      // The CSV as one argument: its lines separated by "|" (or sent as
      // several arguments, one a line).
      std::string csv = a[2];
      for (size_t i = 3; i < a.size(); ++i) csv += "|" + a[i];
      if (csv.empty()) {
        Error(client, kBadParameter, "пустые границы");
        return TReply::None();
      }
      question += " " + csv;
    }
  } else if (what == "FAIL?" || what == "VERD?") {
    question = "limits verdict" + trace;
  } else {
    Error(client, kUnknownCommand, h);
    return query ? TReply::Text("") : TReply::None();
  }
  TReply r = DisplayQuery(client, {a[0]}, question, what == "DATA?");
  if (!query) return r;
  if (!r.hasAnswer) return TReply::Text("");
  if (what == "FAIL?") r.answer = r.answer.rfind("FAIL", 0) == 0 ? "1" : "0";
  return r;
}

}  // namespace vkremote
