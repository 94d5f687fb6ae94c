#pragma once
// The marker's properties dialog: its mode (free position, a level search or
// a level-difference search), the series it reads, its position and search
// range, the divergence (or level), the label's digits and its switches.
#include <QDialog>
#include <QString>

#include <vector>

#include "markers/BuildVariant.h"
#include "markers/MarkerModel.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TKorSpinEdit;

namespace korchart {
KORCHART_VARIANT_BEGIN

class TMarkProperties : public QDialog {
  Q_OBJECT
 public:
  // `series` are the chart's titled series in order (series 1 first); the
  // markers read at most kMaxSeries of them.
  TMarkProperties(QWidget* owner, const SMarkParams& params, const std::vector<TSeriesInfo>& series);

  // The parameters as the operator left them. What the dialog does not show
  // is passed through; a number whose text was not touched is given back
  // exactly as it came, not as it was printed.
  SMarkParams Params() const;

 private:
  // A number field and what it was opened with.
  struct TNumber {
    TKorSpinEdit* edit = nullptr;
    double original = 0;
    QString shown;
    QString caption;  // for the message about an unreadable text
  };

  QTreeWidgetItem* AddLeaf(QTreeWidgetItem* group, const char* caption, EMarkAction action, bool delta);
  QComboBox* MakeTraceCombo(const char* name, int current, const std::vector<TSeriesInfo>& series);
  TKorSpinEdit* MakeNumber(TNumber& field, const char* name, const char* caption, double value);
  void SelectModeLeaf();
  void ModeSelected();
  void UpdateFields();
  void OnOk();
  // The number in `field`; false (with a message, the field focused) when
  // its text has been changed into something that is not a number.
  bool ReadNumber(const TNumber& field, double& value) const;
  static double NumberOf(const TNumber& field);
  static int TraceOf(const QComboBox* combo);

  SMarkParams params_;
  // The mode picked in the tree (as opened until the operator picks a leaf).
  EMarkAction action_;
  bool delta_;

  QTreeWidget* modeTree_ = nullptr;
  QComboBox* trace1_ = nullptr;
  QComboBox* trace2_ = nullptr;
  QLabel* trace2Label_ = nullptr;
  TNumber frequency_, limitMin_, limitMax_, divergence_;
  QGroupBox* limitsBox_ = nullptr;
  QGroupBox* divergenceBox_ = nullptr;
  QRadioButton* radioRight_ = nullptr;
  QRadioButton* radioLeft_ = nullptr;
  QSpinBox* argumentDigits_ = nullptr;
  QSpinBox* valueDigits_ = nullptr;
  QGroupBox* tolerance_ = nullptr;
  QLineEdit* readingMin_ = nullptr;
  QLineEdit* readingMax_ = nullptr;
  QCheckBox* active_ = nullptr;
  QCheckBox* statistics_ = nullptr;
};

KORCHART_VARIANT_END
}  // namespace korchart
