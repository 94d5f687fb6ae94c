#include "report/DisplayQuery.h"

#include <QPrinter>
#include <qcustomplot.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#include "Diagnostics.h"
#include "PacketTypes.h"
#include "Plugin.h"
#include "VKXml.h"
#include "markers/LinkMarker.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "report/CsvExport.h"
#include "report/ReportManager.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

std::string Number(double v) {
  std::string text;
  vkcore::AppendNumberText(text, v);
  return text;
}

int Fail(std::string& answer, const std::string& why) {
  answer = why;
  return VKT_ERROR;
}

// "marker 3" -> 3, within 0..count-1; -1 otherwise.
int Index(std::istringstream& words, int count) {
  int n = -1;
  if (!(words >> n) || n < 0 || n >= count) return -1;
  return n;
}

std::string VerdictText(const TLimitVerdict& v) {
  if (!v.judged) return "NONE,,";
  return std::string(v.pass ? "PASS" : "FAIL") + "," + Number(v.worstMargin) + "," + Number(v.argument);
}

int AnswerLimits(std::istringstream& words, const TDisplay& d, std::string& answer) {
  std::string what;
  words >> what;
  const int count = static_cast<int>(d.limits.size());
  const auto trace = [&]() -> const TDisplay::TLimitAccess* {
    const int n = Index(words, count);
    return n < 0 ? nullptr : &d.limits[static_cast<size_t>(n)];
  };
  const std::string badIndex = count == 0 ? "у дисплея нет трасс с границами"
                                          : "номер трассы должен быть от 0 до " + std::to_string(count - 1);
  if (what == "verdict") {
    if (words >> std::ws; words.eof()) {
      answer = VerdictText(d.verdict ? d.verdict() : TLimitVerdict());
      return VKT_OK;
    }
    const auto* t = trace();
    if (!t) return Fail(answer, badIndex);
    answer = VerdictText(t->verdict());
    return VKT_OK;
  }
  if (what == "state") {
    const auto* t = trace();
    if (!t) return Fail(answer, badIndex);
    std::string how;
    words >> how;
    TLimitLines l = t->get();
    if (how.empty()) {
      answer = l.enabled ? "1" : "0";
      return VKT_OK;
    }
    if (how != "on" && how != "off") return Fail(answer, "ожидается on или off");
    l.enabled = how == "on";
    t->set(l);
    answer.clear();
    return VKT_OK;
  }
  if (what == "data") {
    const auto* t = trace();
    if (!t) return Fail(answer, badIndex);
    std::string csv;
    std::getline(words >> std::ws, csv);
    TLimitLines l = t->get();
    if (csv.empty()) {
      answer = LimitsToCsv(l);
      return VKT_OK;
    }
    std::replace(csv.begin(), csv.end(), '|', '\n');
    std::string error;
    if (!LimitsFromCsv(csv, l, error)) return Fail(answer, error);
    t->set(l);
    answer.clear();
    return VKT_OK;
  }
  return Fail(answer, "ожидается limits verdict|state|data");
}

}  // namespace

int AnswerDisplayQuery(const std::string& request, const TDisplay& d, std::string& answer) {
  std::istringstream words(request);
  std::string what;
  words >> what;
  if (what == "sweeps") {
    std::string which;
    words >> which;
    if (!which.empty() && which != "marked") return Fail(answer, "ожидается sweeps или sweeps marked");
    answer = std::to_string(which.empty() ? d.sweeps : d.sweepsMarked);
    return VKT_OK;
  }
  if (what == "trace") {
    answer = MakeCsv(d.argumentTitle, d.argumentUnits, TracesOf(d.traces));
    return answer.empty() ? Fail(answer, "нет показанных трасс") : VKT_OK;
  }
  if (what == "marker") {
    const int n = Index(words, kMarkerCount);
    if (n < 0) return Fail(answer, "номер маркера должен быть от 0 до 9");
    Metka* m = d.marks ? d.marks->Mark(n) : nullptr;
    if (!m || !m->GetActivated()) return Fail(answer, "маркер " + std::to_string(n) + " не включён");
    // A search that found nothing has no argument: empty, as a value would be.
    answer = m->GetFreq() == kNotFound ? std::string() : Number(m->GetFreq());
    for (QCPGraph* g : d.traces) {
      if (!g || !g->visible() || g->data()->isEmpty()) continue;
      answer += ',';
      for (int s = 1; s <= d.marks->SeriesCount(); ++s)
        if (d.marks->Series(s) == g) {
          const double v = m->ReadValue(s);
          if (v != kNoValue) answer += Number(v);
          break;
        }
    }
    return VKT_OK;
  }
  if (what == "statistics") {
    std::string how;
    if (!(words >> how) || how != "reset") return Fail(answer, "ожидается statistics reset");
    if (!d.marks) return Fail(answer, "маркеров нет");
    d.marks->ResetStatistics();
    answer.clear();
    return VKT_OK;
  }
  if (what == "link") {
    const int n = Index(words, kLinkMarkerCount);
    if (n < 0) return Fail(answer, "номер связного маркера должен быть от 0 до 9");
    LinkMarker* l = d.marks ? d.marks->Link(n) : nullptr;
    if (!l || !l->Used()) return Fail(answer, "связный маркер " + std::to_string(n) + " не задан");
    answer = l->Text();
    return VKT_OK;
  }
  if (what == "report") {
    std::string kind, file;
    words >> kind;
    std::getline(words >> std::ws, file);
    if (file.empty() || (kind != "html" && kind != "pdf")) return Fail(answer, "ожидается report html|pdf ФАЙЛ");
    TfrmReportManager* report = d.report ? d.report() : nullptr;
    if (!report) return Fail(answer, "отчёт недоступен");
    report->Fill();
    if (kind == "html") {
      if (!report->ExportHtml(file)) return Fail(answer, "не удалось записать \"" + file + "\"");
    } else {
      QPrinter printer(QPrinter::HighResolution);
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(file));
      if (!report->PrintTo(&printer)) return Fail(answer, "не удалось записать \"" + file + "\"");
    }
    answer.clear();
    return VKT_OK;
  }
  if (what == "limits") return AnswerLimits(words, d, answer);
  return VKT_NOT_SUPPORTED;
}

void TakeReportRequests(CInLinkPoint* input, QWidget* window, CBasePlugin* display) {
  if (!input) return;
  input->OnPacket = [display](CSubscriber* subscriber, CBasePacket*, bool& handled) {
    handled = true;
    std::unique_ptr<CBasePacket> taken(subscriber ? subscriber->GetPacketCopyAndRelease() : nullptr);
    auto* text = dynamic_cast<CStringPacket*>(taken.get());
    const std::string file = text ? text->GetString() : std::string();
    if (file.empty()) return;
    const bool pdf = file.size() > 4 && file.compare(file.size() - 4, 4, ".pdf") == 0;
    AnsiString answer;
    if (display->Query((pdf ? "report pdf " : "report html ") + file, answer) != VKT_OK) {
      const std::string said = "Отчёт дисплея \"" + display->Name() + "\" не записан: " + std::string(answer);
      LogMessage(said, false);
      std::fprintf(stderr, "Vektra: %s\n", said.c_str());
    }
  };
  input->NotifyWindow = window;
}

void ForgetReportRequests(CInLinkPoint* input) {
  if (!input) return;
  input->OnPacket = TPacketEvent();
  input->NotifyWindow = nullptr;
}

KORCHART_VARIANT_END
}  // namespace korchart
