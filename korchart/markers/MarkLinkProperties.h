#pragma once
// The link marker's properties dialog: its name, its formula over the
// readings of two markers and its print template, with the preset library
// to take them from or keep them in.
#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "markers/BuildVariant.h"
#include "markers/MarkerModel.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace korchart {
KORCHART_VARIANT_BEGIN

// How the dialog reaches the preset library. Any of the three may be empty:
// without `load` the list is empty, without `add` or `remove` that button is
// disabled. `add` and `remove` answer whether the library changed; they do
// not report a failure themselves, the dialog does.
struct TPresetAccess {
  std::function<std::vector<SRelationPreset>()> load;
  std::function<bool(const SRelationPreset&)> add;
  std::function<bool(const std::string& description)> remove;
};

class TMarkLinkProperties : public QDialog {
  Q_OBJECT
 public:
  // The longest expression the operator may type.
  static constexpr int kExpressionLength = 100;

  // `checkExpression` answers whether an expression parses; OK accepts
  // nothing else (without it the expression is taken unchecked).
  TMarkLinkProperties(QWidget* owner, const SLinkParams& params, TPresetAccess presets,
                      std::function<bool(const std::string&)> checkExpression);

  // The parameters with the name, expression and print template as the
  // operator left them; the rest as they came.
  SLinkParams Params() const;

 private:
  // Fills the list from the library and selects the entry with that
  // description, if any.
  void Reload(const QString& select = QString());
  void UpdateButtons();
  // Puts a text in the expression edit without cutting it to the typing
  // limit: one that is already longer is kept whole.
  void SetExpression(const QString& text);
  void OnAdd();
  void OnRemove();
  void OnPresetActivated(QTreeWidgetItem* item);
  void OnOk();

  SLinkParams params_;
  TPresetAccess presets_;
  std::function<bool(const std::string&)> checkExpression_;

  QLineEdit* name_ = nullptr;
  QLineEdit* expression_ = nullptr;
  QLineEdit* print_ = nullptr;
  QCheckBox* limitsOn_ = nullptr;
  QLineEdit* limitMin_ = nullptr;
  QLineEdit* limitMax_ = nullptr;
  // The tolerance as typed; false when a bound is no number or min > max.
  bool ReadLimits(TValueLimits& limits) const;
  QTreeWidget* list_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
};

KORCHART_VARIANT_END
}  // namespace korchart
