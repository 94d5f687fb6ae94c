#pragma once
// LinkMarker: a formula over the readings of two markers, A and B, shown in
// a label above them. Its interpreter object is its own, made on first use
// through the component registry; the variables are "а.арг", "б.арг",
// "м<k>.арг" and, per titled series, "а.<title>", "б.<title>" and
// "м<k>.<title>".
#include <QPointer>
#include <QRectF>

#include <set>
#include <string>
#include <vector>

#include "markers/BuildVariant.h"
#include "markers/MarkerModel.h"
#include "markers/Searches.h"

class IInterpreter;

namespace korchart {
KORCHART_VARIANT_BEGIN

class MarksManager;
class TLinkItem;

// The expression's longest part that reaches the interpreter.
constexpr size_t kExpressionLimit = 100;

class LinkMarker {
 public:
  LinkMarker(MarksManager* owner, int index);
  ~LinkMarker();
  LinkMarker(const LinkMarker&) = delete;
  LinkMarker& operator=(const LinkMarker&) = delete;

  int Index() const { return index_; }
  bool Used() const { return p_.used; }
  const SLinkParams& GetParams() const { return p_; }
  // Takes new parameters; a formula that does not parse is reported
  // ("Ошибка при синтаксическом разборе выражения") when `report` is set,
  // kept, and computes as 0. 0, or -1 for a formula that does not parse.
  int SetParams(const SLinkParams& params, bool report = true);
  // Out of use: the label goes, the markers forget it.
  void Release();

  // Declares the variables of these series titles.
  void DeclareSeries(const std::vector<std::string>& titles);
  // Sets the variables from the markers' readings, evaluates and makes the
  // label text; with `sample` (a new frame) the value is taken into the
  // statistics when the print template asks for them. A formula that reads
  // a marker that is off or found nothing, or a series without a value at
  // its marker, has no value: it is not evaluated, its text shows
  // kNoValueText and nothing goes into the statistics.
  void Update(bool sample = false);
  bool HasValue() const { return hasValue_; }
  // The value; kNoValue when there is none.
  double Value() const { return hasValue_ ? value_ : kNoValue; }
  const std::string& Text() const { return text_; }
  const TStatistics& Stat() const { return stats_; }
  // The statistics start again; the text shows it at once.
  void ResetStatistics();
  // Shown: in use, with both markers on the plot.
  bool Shown() const;
  bool HasInterpreter() const { return interpreter_ != nullptr; }
  bool ExpressionValid() const { return expressionValid_; }
  TLinkItem* Item() const;
  // Where the label is drawn; empty when it is not.
  QRectF LabelRect() const;
  MarksManager* Owner() const { return owner_; }
  // "Свойства связного маркера": the answer of the dialog.
  int ShowProperties();

 private:
  bool EnsureInterpreter();
  void EnsureItem();
  void PrepareNames(const std::vector<std::string>& titles);
  bool Compile(bool report);
  void Connect();
  void Disconnect();

  MarksManager* owner_;
  int index_;
  SLinkParams p_;
  IInterpreter* interpreter_ = nullptr;
  bool expressionValid_ = false;
  std::vector<std::string> declared_;
  // The variables the expression names (the part the interpreter takes).
  std::set<std::u16string> used_;
  // The variables' names as the interpreter takes them, made once per set
  // of series: "м<k>.арг", "м<k>.<title>" (k by n), "а."/"б." + title.
  struct TNames {
    std::u16string argA, argB;
    std::vector<std::u16string> markArg;
    std::vector<std::vector<std::u16string>> markSeries;
    std::vector<std::u16string> seriesA, seriesB;
  } names_;
  double value_ = 0;
  bool hasValue_ = true;
  std::string text_;
  TStatistics stats_;
  QPointer<TLinkItem> item_;
};

KORCHART_VARIANT_END
}  // namespace korchart
