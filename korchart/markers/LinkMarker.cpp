#include "markers/LinkMarker.h"

#include <QString>
#include <qcustomplot.h>

#include <cmath>
#include <limits>
#include <memory>

#include "GuiPlugin.h"
#include "interpreter/KorvanInterpreter.h"
#include "markers/LabelText.h"
#include "markers/MarkItems.h"
#include "markers/MarkLinkProperties.h"
#include "markers/MarkerFile.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

std::u16string Wide(const std::string& s) { return QString::fromStdString(s).toStdU16String(); }

// At most `limit` characters (not bytes) of a UTF-8 text.
std::string FirstCharacters(const std::string& s, size_t limit) {
  const QString q = QString::fromStdString(s);
  return q.size() <= static_cast<qsizetype>(limit) ? s : q.left(static_cast<qsizetype>(limit)).toStdString();
}

// The names an expression reads: a letter, then letters, digits and points,
// as the interpreter reads them; numbers are passed over whole.
std::set<std::u16string> NamesIn(const std::string& expression) {
  const QString q = QString::fromStdString(FirstCharacters(expression, kExpressionLimit));
  std::set<std::u16string> names;
  for (qsizetype i = 0; i < q.size();) {
    if (q[i].isLetter()) {
      qsizetype j = i + 1;
      while (j < q.size() && (q[j].isLetter() || q[j].isDigit() || q[j] == QLatin1Char('.'))) ++j;
      names.insert(q.mid(i, j - i).toStdU16String());
      i = j;
    } else if (q[i].isDigit()) {
      while (i < q.size() && (q[i].isDigit() || q[i] == QLatin1Char('.'))) ++i;
    } else {
      ++i;
    }
  }
  return names;
}

}  // namespace

LinkMarker::LinkMarker(MarksManager* owner, int index) : owner_(owner), index_(index) {
  EnsureItem();
  PrepareNames({});
}

LinkMarker::~LinkMarker() {
  Disconnect();
  if (interpreter_) interpreter_->Release();
  if (QCustomPlot* plot = owner_->Chart(); plot && item_) plot->removeItem(item_.data());
}

void LinkMarker::EnsureItem() {
  if (item_ || !owner_->Chart()) return;
  item_ = new TLinkItem(owner_->Chart(), this);
  item_->setLayer(owner_->Layer());
}

TLinkItem* LinkMarker::Item() const { return item_.data(); }

QRectF LinkMarker::LabelRect() const { return item_ ? item_->LabelRect() : QRectF(); }

void LinkMarker::PrepareNames(const std::vector<std::string>& titles) {
  TNames n;
  n.argA = Wide("а.арг");
  n.argB = Wide("б.арг");
  for (int k = 0; k < kMarkerCount; ++k) {
    const std::string prefix = "м" + std::to_string(k) + ".";
    n.markArg.push_back(Wide(prefix + "арг"));
    std::vector<std::u16string> series;
    for (const std::string& title : titles) series.push_back(title.empty() ? std::u16string() : Wide(prefix + title));
    n.markSeries.push_back(std::move(series));
  }
  for (const std::string& title : titles) {
    n.seriesA.push_back(title.empty() ? std::u16string() : Wide("а." + title));
    n.seriesB.push_back(title.empty() ? std::u16string() : Wide("б." + title));
  }
  names_ = std::move(n);
}

bool LinkMarker::EnsureInterpreter() {
  if (interpreter_) return true;
  interpreter_ = owner_->CreateInterpreterObject();
  declared_.clear();
  if (interpreter_) DeclareSeries(owner_->SeriesTitles());
  return interpreter_ != nullptr;
}

void LinkMarker::DeclareSeries(const std::vector<std::string>& titles) {
  PrepareNames(titles);
  if (!interpreter_) return;
  for (const std::string& title : titles) {
    if (title.empty()) continue;
    for (const std::string& name : {"а." + title, "б." + title}) interpreter_->DeclareVariable(Wide(name).c_str());
    for (int k = 0; k < kMarkerCount; ++k)
      interpreter_->DeclareVariable(Wide("м" + std::to_string(k) + "." + title).c_str());
  }
  declared_ = titles;
  // A formula naming a series that has just come may parse now.
  if (p_.used && !expressionValid_) Compile(false);
}

bool LinkMarker::Compile(bool report) {
  expressionValid_ = false;
  if (!interpreter_) return false;
  const std::string expression = FirstCharacters(p_.expression, kExpressionLimit);
  expressionValid_ = SUCCEEDED(interpreter_->SetExpression(Wide(expression).c_str()));
  if (!expressionValid_ && report)
    vkplatform::MessageBox("Ошибка при синтаксическом разборе выражения", "Ошибка", vkplatform::MsgIcon::Error);
  return expressionValid_;
}

int LinkMarker::SetParams(const SLinkParams& params, bool report) {
  SLinkParams p = params;
  if (p.markerA < 0 || p.markerA >= kMarkerCount) p.markerA = 0;
  if (p.markerB < 0 || p.markerB >= kMarkerCount) p.markerB = 1;
  Disconnect();
  const bool statisticsWere = p_.WantsStatistics();
  p_ = p;
  used_ = NamesIn(p_.expression);
  if (statisticsWere != p_.WantsStatistics()) stats_.Reset();
  if (!p_.used) {
    Release();
    return 0;
  }
  Connect();
  int result = 0;
  if (EnsureInterpreter() && !Compile(report)) result = -1;
  Update();
  return result;
}

void LinkMarker::Release() {
  Disconnect();
  p_.used = false;
  stats_.Reset();
  value_ = 0;
  hasValue_ = true;
  text_.clear();
}

void LinkMarker::ResetStatistics() {
  stats_.Reset();
  if (!p_.used) return;
  TStatistics shown;
  if (p_.WantsStatistics() && Shown() && hasValue_) shown.Add(value_);
  text_ = LinkText(p_.print, value_, p_.WantsStatistics() ? &shown : nullptr, hasValue_);
  if (item_) item_->SetText(text_);
}

void LinkMarker::Connect() {
  owner_->Mark(p_.markerA)->Connect(this, 0);
  owner_->Mark(p_.markerB)->Connect(this, 1);
}

void LinkMarker::Disconnect() {
  for (int i = 0; i < kMarkerCount; ++i)
    if (Metka* m = owner_->Mark(i)) m->Disconnect(this);
}

bool LinkMarker::Shown() const {
  return p_.used && owner_->Mark(p_.markerA)->Placed() && owner_->Mark(p_.markerB)->Placed();
}

void LinkMarker::Update(bool sample) {
  if (!p_.used) return;
  EnsureItem();
  double value = 0;
  bool known = true;
  if (interpreter_ && expressionValid_) {
    // A reading that does not exist is set as NaN; when the expression reads
    // it the link marker has no value (a number made of -1 or -1000 would
    // look like a measurement).
    auto set = [this, &known](const std::u16string& name, double v, bool exists) {
      if (name.empty()) return;
      if (!exists) {
        v = std::numeric_limits<double>::quiet_NaN();
        if (used_.count(name)) known = false;
      }
      interpreter_->SetVariableValue(name.c_str(), v);
    };
    auto placed = [](const Metka* m) { return m->GetActivated() && m->GetFreq() != kNotFound; };
    auto read = [&placed](const Metka* m, size_t n, double& v) {
      v = m->ReadValue(static_cast<int>(n) + 1);
      return placed(m) && v != kNoValue;
    };
    const size_t count = names_.seriesA.size();
    double v = 0;
    for (int k = 0; k < kMarkerCount; ++k) {
      const Metka* m = owner_->Mark(k);
      const size_t kk = static_cast<size_t>(k);
      set(names_.markArg[kk], m->GetFreq(), placed(m));
      for (size_t n = 0; n < count; ++n) {
        const bool exists = read(m, n, v);
        set(names_.markSeries[kk][n], v, exists);
      }
    }
    const Metka* a = owner_->Mark(p_.markerA);
    const Metka* b = owner_->Mark(p_.markerB);
    set(names_.argA, a->GetFreq(), placed(a));
    set(names_.argB, b->GetFreq(), placed(b));
    for (size_t n = 0; n < count; ++n) {
      bool exists = read(a, n, v);
      set(names_.seriesA[n], v, exists);
      exists = read(b, n, v);
      set(names_.seriesB[n], v, exists);
    }
    double result = 0;
    // A failed evaluation, a division by zero among them, shows 0.
    if (known && interpreter_->Calculate(&result) == S_OK && std::isfinite(result)) value = result;
  }
  value_ = value;
  hasValue_ = known;
  const bool statistics = p_.WantsStatistics();
  // The value shown goes into the statistics once per frame (`sample`);
  // between frames the text shows the statistics as if it had.
  TStatistics shown = stats_;
  if (statistics && Shown() && hasValue_) {
    if (sample) stats_.Add(value_);
    shown.Add(value_);
  }
  text_ = LinkText(p_.print, value_, statistics ? &shown : nullptr, hasValue_);
  if (item_) item_->SetText(text_);
}

int LinkMarker::ShowProperties() {
  TPresetAccess presets;
  MarksManager* owner = owner_;
  presets.load = [owner] {
    owner->SetLinkMarkPresetFileName(owner->LinkMarkPresetFileName());
    return owner->Presets();
  };
  if (!owner_->LinkMarkPresetFileName().empty()) {
    presets.add = [owner](const SRelationPreset& preset) {
      return AddRelationPreset(owner->LinkMarkPresetFileName(), preset) == kMarkerFileOk;
    };
    presets.remove = [owner](const std::string& description) {
      return RemoveRelationPreset(owner->LinkMarkPresetFileName(), description) == kMarkerFileOk;
    };
  }
  QCustomPlot* plot = owner_->Chart();
  // Without an interpreter there is nothing to check with: the texts are
  // taken as they are (the link shows 0 anyway).
  TMarkLinkProperties dialog(plot ? plot->window() : nullptr, p_, presets, [owner](const std::string& e) {
    return owner->CheckExpression(e) || owner->InterpreterMissing();
  });
  const std::shared_ptr<bool> alive = owner_->AliveToken();
  const int answer = ExecModalDialog(&dialog);
  // The markers may have gone while the dialog was open (new series).
  if (!*alive) return QDialog::Rejected;
  if (answer == QDialog::Accepted) {
    SLinkParams p = dialog.Params();
    p.used = true;
    SetParams(p);
    owner_->ReplotMarkers();
  }
  return answer;
}

KORCHART_VARIANT_END
}  // namespace korchart
