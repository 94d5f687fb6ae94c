#pragma once
// The matrix editor: the table, the six row and file actions, OK and
// Cancel, and a caption that names the file the table equals.
#include <QDialog>
#include <QStringList>

class QAction;
class QPushButton;
class QTableView;
class CDoubleMatrix;

namespace matrixvault {

class TMatrixGrid;

// What the keeper tells the editor.
struct TEditorSettings {
  QString caption;
  QString initialDir;
  QString filter;  // the file dialogs' filter ("Текст|*.txt|Все|*.*")
  QString defaultExt;
  QStringList titles;
};

class TFormEditMatrix : public QDialog {
  Q_OBJECT
 public:
  TFormEditMatrix(QWidget* owner, const TEditorSettings& settings);

  void Fill(const CDoubleMatrix& matrix);
  void Take(CDoubleMatrix& matrix) const;
  // The file the table equals ("" once it is changed).
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name);

  QTableView* StringGrid1 = nullptr;
  TMatrixGrid* Grid = nullptr;
  QPushButton* Button1 = nullptr;  // "ОК"
  QPushButton* Button2 = nullptr;  // "Отмена"
  QAction* ActionOpen = nullptr;
  QAction* ActionSave = nullptr;
  QAction* ActionMoveUp = nullptr;
  QAction* ActionMoveDown = nullptr;
  QAction* ActionInsert = nullptr;
  QAction* ActionDelete = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Ends the editing of a cell, keeping what was typed.
  void CommitEdit();
  void UpdateCaption();
  int SelectedRow() const;
  void SelectRow(int row);
  void OnOpen();
  void OnSave();
  TEditorSettings settings_;
  QString fileName_;
};

}  // namespace matrixvault
