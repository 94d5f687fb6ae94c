#pragma once
// The table of the matrix editor: one column per matrix column, one row per
// matrix row, and always exactly one empty row at the end, into which a new
// row is typed. Cells hold text as typed; a text that is no number counts as
// 0 when the table is taken. A model for a QTableView, so that tens of
// thousands of rows cost nothing to show or scroll.
#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

class CDoubleMatrix;

namespace matrixvault {

class TMatrixGrid : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TMatrixGrid(QObject* parent = nullptr);

  // Fills the table from `matrix` (values with 6 significant digits) under
  // the given column titles (the column's number where there is none).
  void Fill(const CDoubleMatrix& matrix, const QStringList& titles);
  // The table as a matrix: every row but the trailing empty one.
  void Take(CDoubleMatrix& matrix) const;
  // Rows of the table, the trailing empty row included.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The row actions; each keeps the trailing row last. False when the row
  // may not be moved or deleted (the trailing row, the ends).
  bool MoveUp(int row);
  bool MoveDown(int row);
  void InsertRow(int row);
  bool DeleteRow(int row);
  // Rows of data (without the trailing one).
  int DataRows() const { return static_cast<int>(rows_.size()); }

 signals:
  // The table was changed by typing or a row action.
  void edited();

 private:
  bool RowEmpty(const std::vector<QString>& row) const;
  std::vector<std::vector<QString>> rows_;  // data rows; the trailing row is implied
  std::vector<QString> titles_;
  int columns_ = 0;
};

// Reads a cell's text as a number ("1,5" with a comma too); 0 when it is none.
double CellValue(const QString& text);

}  // namespace matrixvault
