#pragma once
// "Границы допуска": edits the limit lines of one trace. A row a segment
// (which limit, start, stop, the level at either end); rows are added after
// the last one, deleted, imported from and exported to a CSV file (the
// format of LimitsToCsv). Numbers are typed with a point or a comma; a cell
// that is no number is refused on OK (and on export) with its row named,
// and the dialog stays as it was.
#include <QDialog>
#include <QString>

#include "limits/LimitLines.h"
#include "markers/BuildVariant.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace korchart {
KORCHART_VARIANT_BEGIN

class TLimitDialog : public QDialog {
  Q_OBJECT
 public:
  // The columns of the table.
  enum EColumn { kKindColumn = 0, kStartColumn, kStopColumn, kStartLevelColumn, kStopLevelColumn, kColumnCount };

  // `traceName` and `unit` (the levels' unit, "" for none) are shown in the
  // caption and over the table.
  TLimitDialog(QWidget* owner, const TLimitLines& limits, const QString& traceName, const QString& unit);

  // The argument range the first added row spans (the chart's bottom axis).
  void SetArgumentRange(double min, double max);

  // The limits as the table holds them; false (with the row and the column
  // in `error`) when a cell is no number.
  bool ReadTable(TLimitLines& limits, QString& error) const;
  // The largest limits file read (a CSV of the most segments is far smaller).
  static constexpr size_t kLimitFileLimit = size_t(16) << 20;
  // The limits accepted with OK (the ones given until then).
  const TLimitLines& Limits() const { return limits_; }

  QTableWidget* Table() const { return table_; }

  // The buttons' actions (also for tests and automation).
  void AddRow();
  void DeleteSelectedRows();
  void ImportCsv();
  void ExportCsv();

  void accept() override;

 private:
  void SetRows(const TLimitLines& limits);
  void AppendRow(bool upper, const TLimitSegment& segment);
  // Says `text` in a message box; when `row` >= 0 the cell gets the focus.
  void Refuse(const QString& text, int row, int column);

  TLimitLines limits_;
  // The table's limits, or the bad cell said (false).
  bool ReadOrRefuse(TLimitLines& limits);
  double rangeMin_ = 0, rangeMax_ = 1;
  QCheckBox* enabled_ = nullptr;
  QLabel* caption_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* import_ = nullptr;
  QPushButton* export_ = nullptr;
};

KORCHART_VARIANT_END
}  // namespace korchart
