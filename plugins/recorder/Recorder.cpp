#include "Recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "Diagnostics.h"
#include "PluginClass.h"
#include "VKPaths.h"
#include "VKXml.h"
#include "record/RecordCheck.h"

namespace {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void AppendNumber(std::string& out, double v) { vkcore::AppendNumberText(out, v); }

// The wall-clock time of a sweep, UTC with milliseconds:
// "2026-12-07T17:44:04.123Z".
std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&t, &utc);
  char buf[40];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(ms));
  return buf;
}

}  // namespace

TRecorder::~TRecorder() {
  if (Initialized) Finalize();
}

int TRecorder::Register() {
  recorder::IgnoreFileSizeSignal();
  for (const char* name : kInputs)
    RegisterInLinkPoint(name, {MetaClassOf<CDoubleVector>(), MetaClassOf<CDoubleVectorPart>()}, lptDefault);
  RegisterOutLinkPoint("message", {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint("message", {MetaClassOf<CStringPacket>()}, lptDefault);
  return 0;
}

int TRecorder::Initialize(QWidget*, xmlNode* node) {
  settings_ = recorder::TRecordSettings();
  settings_.folder = FormatPath(VKCore::GetNodeStringValue(node, "@folder", "[user]/records"));
  settings_.prefix = VKCore::GetNodeStringValue(node, "@prefix", "sweeps");
  if (settings_.prefix.empty() || settings_.prefix.find('/') != std::string::npos) settings_.prefix = "sweeps";
  const double megabytes = VKCore::GetNodeDoubleValue(node, "@maxsize", 100);
  settings_.maxBytes = megabytes > 0 ? static_cast<uint64_t>(megabytes * 1048576.0) : 0;
  const double minutes = VKCore::GetNodeDoubleValue(node, "@maxminutes", 0);
  settings_.maxSeconds = minutes > 0 ? minutes * 60 : 0;
  const double sync = VKCore::GetNodeDoubleValue(node, "@sync", 5);
  settings_.syncSeconds = sync >= 0 ? sync : 5;
  stallSeconds_ = VKCore::GetNodeDoubleValue(node, "@stall", 10);
  if (!clock_) clock_ = SteadySeconds;

  wired_.clear();
  std::string header = "sweep,time,index";
  for (const char* name : kInputs) {
    CInLinkPoint* in = GetInLinkPoint(AnsiString(name));
    if (!in || in->SubscriptionsCount() == 0) continue;
    wired_.push_back(in);
    header += std::string(",") + name;
  }
  header += "\r\n";
  if (wired_.empty()) Say("Регистратор \"" + Name() + "\": ни один вход не подключён, записывать нечего");
  assembler_ = std::make_unique<recorder::CSweepAssembler>(wired_.size());
  // The file is opened with the first sweep: a fresh one at each start.
  file_ = std::make_unique<recorder::CRecordFile>(settings_, header);
  message_ = GetOutLinkPoint(AnsiString("message"));
  lastSweep_ = clock_();
  stallSaid_ = failureSaid_ = syncSaid_ = false;
  written_ = lost_ = 0;
  // What the last recording into this series left: a torn end is cut off,
  // and the numbers go on after the last whole sweep.
  const recorder::TRecordCheck check = recorder::CheckRecords(settings_.folder, settings_.prefix);
  firstSweep_ = check.lastSweep + 1;
  if (check.cutBytes > 0) {
    Say("Регистратор \"" + Name() + "\": запись в \"" + check.file + "\" прервалась (сбой или отключение питания); " +
        (check.torn > 0 ? "неполная развёртка " + std::to_string(check.torn) + " удалена"
                        : std::string("неполный конец файла удалён")) +
        ", нумерация продолжается с " + std::to_string(firstSweep_));
  }
  if (!check.error.empty()) Say("Регистратор \"" + Name() + "\": " + check.error);
  return 0;
}

int TRecorder::Finalize() {
  if (file_) file_->Close();
  file_.reset();
  assembler_.reset();
  wired_.clear();
  return 0;
}

void TRecorder::Process() {
  if (!assembler_) return;
  LogIncomingMessages();
  // What has come, in the order it came: one packet of each input in turn
  // (the sender sends a part on every output before the next), at most a
  // queue's worth per cycle. Taking one input's queue whole first would
  // start its next sweep before the others had finished this one.
  for (int round = 0; round < 64; ++round) {
    bool took = false;
    for (size_t column = 0; column < wired_.size(); ++column) {
      CBasePacket* packet = wired_[column]->GetPacketCopyAndRelease();
      if (!packet) continue;
      took = true;
      Take(column, packet);
      delete packet;
    }
    if (!took) break;
  }
  const double now = clock_();
  if (file_) {
    const int synced = file_->Syncs();
    const std::string error = file_->Sync(now);
    if (!error.empty() && !syncSaid_) Say("Регистратор \"" + Name() + "\": " + error);
    if (!error.empty()) syncSaid_ = true;
    if (file_->Syncs() != synced) syncSaid_ = false;
  }
  if (stallSeconds_ > 0 && !stallSaid_ && now - lastSweep_ > stallSeconds_) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", stallSeconds_);
    Say("Регистратор \"" + Name() + "\": нет развёрток дольше " + seconds + " с");
    stallSaid_ = true;
  }
}

void TRecorder::Take(size_t column, CBasePacket* packet) {
  auto* vector = dynamic_cast<CDoubleVector*>(packet);
  if (!vector) return;
  unsigned fullSize = vector->Size(), offset = 0;
  if (auto* part = dynamic_cast<CDoubleVectorPart*>(packet)) {
    fullSize = part->FullSize();
    offset = part->Offset();
  }
  assembler_->Take(column, vector->Data(), vector->Size(), fullSize, offset);
  if (assembler_->Complete()) WriteSweep();
}

void TRecorder::WriteSweep() {
  const unsigned long long id = firstSweep_ + written_ + lost_;
  size_t points = 0;
  for (size_t c = 0; c < wired_.size(); ++c) points = std::max(points, assembler_->Values(c).size());
  const std::string time = Timestamp();
  text_.clear();
  for (size_t i = 0; i < points; ++i) {
    AppendNumber(text_, static_cast<double>(id));
    text_ += ',';
    text_ += time;
    text_ += ',';
    AppendNumber(text_, static_cast<double>(i));
    for (size_t c = 0; c < wired_.size(); ++c) {
      text_ += ',';
      const std::vector<double>& v = assembler_->Values(c);
      if (i < v.size()) AppendNumber(text_, v[i]);
    }
    text_ += "\r\n";
  }
  assembler_->Consume();
  const double now = clock_();
  lastSweep_ = now;
  stallSaid_ = false;
  const std::string error = file_->Append(text_, now, points);
  if (error.empty()) {
    ++written_;
    const std::string notice = file_->TakeNotice();
    if (!notice.empty()) Say("Регистратор \"" + Name() + "\": " + notice);
    else if (failureSaid_) Say("Регистратор \"" + Name() + "\": запись продолжается в \"" + file_->FileName() + "\"");
    failureSaid_ = false;
    return;
  }
  // Said once until a sweep is written again; the sweep's number is used,
  // so the files show the gap.
  ++lost_;
  if (!failureSaid_) Say("Регистратор \"" + Name() + "\": " + error + "; развёртки не записываются");
  failureSaid_ = true;
}

void TRecorder::LogIncomingMessages() {
  // What another module says (the instrument link: a lost connection and
  // its return) goes into the log with the time, beside the sweeps' times.
  CInLinkPoint* in = GetInLinkPoint(AnsiString("message"));
  if (!in) return;
  for (int i = 0; i < 64; ++i) {
    std::unique_ptr<CBasePacket> packet(in->GetPacketCopyAndRelease());
    if (!packet) break;
    auto* text = dynamic_cast<CStringPacket*>(packet.get());
    if (!text) continue;
    const std::string line = "Регистратор \"" + Name() + "\": " + Timestamp() + " " + text->GetString();
    LogMessage(line, false);
    std::fprintf(stderr, "Vektra: %s\n", line.c_str());
  }
}

void TRecorder::Say(const std::string& text) {
  LogMessage(text, false);
  std::fprintf(stderr, "Vektra: %s\n", text.c_str());
  if (message_ && message_->Dispatcher()) {
    auto* packet = new CStringPacket(text.c_str());
    if (message_->AddPacket(packet) != VKT_OK) delete packet;
  }
}

VK_DECLARE_PLUGIN_PACKAGE(TRecorder)
