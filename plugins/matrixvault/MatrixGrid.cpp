#include "MatrixGrid.h"

#include <charconv>
#include <string>

#include "NumberText.h"
#include "PacketTypes.h"
#include "VKXml.h"

namespace matrixvault {

double CellValue(const QString& text) {
  std::string s = text.trimmed().toStdString();
  for (char& c : s)
    if (c == ',') c = '.';
  double v = 0;
  return vkcore::ParseXmlDouble(s, v) ? v : 0;
}

TMatrixGrid::TMatrixGrid(QObject* parent) : QAbstractTableModel(parent) {}

void TMatrixGrid::Fill(const CDoubleMatrix& matrix, const QStringList& titles) {
  beginResetModel();
  // No matrix yet: the titles give the columns to type into.
  columns_ = static_cast<int>(matrix.Columns() > 0 ? matrix.Columns() : static_cast<unsigned>(titles.size()));
  titles_.assign(titles.begin(), titles.end());
  rows_.assign(matrix.Rows(), std::vector<QString>(static_cast<size_t>(columns_)));
  for (unsigned c = 0; c < matrix.Columns(); ++c) {
    const CDoubleVector* column = matrix.Column(c);
    for (unsigned r = 0; r < matrix.Rows() && r < column->Size(); ++r)
      rows_[r][c] = QString::fromStdString(vkcore::FormatExactNumber((*column)[r]));
  }
  endResetModel();
}

void TMatrixGrid::Take(CDoubleMatrix& matrix) const {
  const unsigned rows = static_cast<unsigned>(rows_.size());
  const unsigned columns = static_cast<unsigned>(columns_);
  // Titles alone are no matrix: an empty one stays empty.
  if (rows == 0 && matrix.Columns() == 0) return;
  bool same = matrix.Columns() == columns;
  for (unsigned c = 0; same && c < columns; ++c) same = matrix.Column(c)->Size() == rows;
  if (!same) {
    matrix.Clear();
    for (unsigned c = 0; c < columns; ++c) matrix.InsertColumn(new CDoubleVector(rows));
  }
  for (unsigned c = 0; c < columns; ++c) {
    CDoubleVector& column = *matrix.Column(c);
    for (unsigned r = 0; r < rows; ++r) column[r] = CellValue(rows_[r][c]);
  }
}

int TMatrixGrid::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size()) + 1;
}

int TMatrixGrid::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant TMatrixGrid::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  const size_t r = static_cast<size_t>(index.row());
  if (r >= rows_.size() || index.column() >= columns_) return QString();
  return rows_[r][static_cast<size_t>(index.column())];
}

bool TMatrixGrid::RowEmpty(const std::vector<QString>& row) const {
  for (const QString& cell : row)
    if (!cell.isEmpty()) return false;
  return true;
}

bool TMatrixGrid::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.column() >= columns_) return false;
  const QString text = value.toString();
  const size_t r = static_cast<size_t>(index.row());
  if (r == rows_.size()) {
    // Typing into the trailing row makes it a row of data and a new empty
    // row follows.
    if (text.isEmpty()) return false;
    beginInsertRows(QModelIndex(), index.row() + 1, index.row() + 1);
    rows_.emplace_back(static_cast<size_t>(columns_));
    rows_.back()[static_cast<size_t>(index.column())] = text;
    endInsertRows();
    emit dataChanged(index, index);
    emit edited();
    return true;
  }
  if (r > rows_.size()) return false;
  // An editor closed on an unchanged cell changes nothing (the table still
  // equals its file).
  if (rows_[r][static_cast<size_t>(index.column())] == text) return true;
  rows_[r][static_cast<size_t>(index.column())] = text;
  emit dataChanged(index, index);
  // The last row of data emptied: it is the trailing row now.
  if (r + 1 == rows_.size() && RowEmpty(rows_[r])) {
    beginRemoveRows(QModelIndex(), static_cast<int>(r) + 1, static_cast<int>(r) + 1);
    rows_.pop_back();
    endRemoveRows();
  }
  emit edited();
  return true;
}

QVariant TMatrixGrid::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Vertical) return section + 1;
  if (section >= 0 && static_cast<size_t>(section) < titles_.size()) return titles_[static_cast<size_t>(section)];
  return QString::number(section + 1);
}

Qt::ItemFlags TMatrixGrid::flags(const QModelIndex& index) const {
  return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
}

bool TMatrixGrid::MoveUp(int row) {
  if (row <= 0 || row >= DataRows()) return false;
  beginMoveRows(QModelIndex(), row, row, QModelIndex(), row - 1);
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row - 1)]);
  endMoveRows();
  emit edited();
  return true;
}

bool TMatrixGrid::MoveDown(int row) {
  if (row < 0 || row + 1 >= DataRows()) return false;
  beginMoveRows(QModelIndex(), row, row, QModelIndex(), row + 2);
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row + 1)]);
  endMoveRows();
  emit edited();
  return true;
}

void TMatrixGrid::InsertRow(int row) {
  row = std::clamp(row, 0, DataRows());
  beginInsertRows(QModelIndex(), row, row);
  rows_.insert(rows_.begin() + row, std::vector<QString>(static_cast<size_t>(columns_)));
  endInsertRows();
  emit edited();
}

bool TMatrixGrid::DeleteRow(int row) {
  if (row < 0 || row >= DataRows()) return false;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
  emit edited();
  return true;
}

}  // namespace matrixvault
