#pragma once
// LinkMarker: a formula over the readings of two markers, A and B, shown in
// a label above them. Its interpreter object is its own, made on first use
// through the component registry; the variables are "а.арг", "б.арг",
// "м<k>.арг" and, per titled series, "а.<title>", "б.<title>" and
// "м<k>.<title>".
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
  // Sets the variables from the markers, evaluates, adds to the statistics
  // when the print template asks for them, and makes the label text.
  void Update();
  double Value() const { return value_; }
  const std::string& Text() const { return text_; }
  const TStatistics& Stat() const { return stats_; }
  void ResetStatistics() { stats_.Reset(); }
  // Shown: in use, with both markers on the plot.
  bool Shown() const;
  bool HasInterpreter() const { return interpreter_ != nullptr; }
  bool ExpressionValid() const { return expressionValid_; }
  TLinkItem* Item() const { return item_; }
  MarksManager* Owner() const { return owner_; }
  // "Свойства связного маркера": the answer of the dialog.
  int ShowProperties();

 private:
  bool EnsureInterpreter();
  bool Compile(bool report);
  void SetVariable(const std::string& name, double value);
  void Connect();
  void Disconnect();

  MarksManager* owner_;
  int index_;
  SLinkParams p_;
  IInterpreter* interpreter_ = nullptr;
  bool expressionValid_ = false;
  std::vector<std::string> declared_;
  double value_ = 0;
  std::string text_;
  TStatistics stats_;
  TLinkItem* item_ = nullptr;
};

KORCHART_VARIANT_END
}  // namespace korchart
