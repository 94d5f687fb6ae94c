#include "FormEditMatrix.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QTableView>
#include <QToolBar>

#include "GuiPlugin.h"
#include "MatrixGrid.h"
#include "PacketTypes.h"
#include "VKPaths.h"
#include "platform/Report.h"

namespace matrixvault {
namespace {

QIcon Icon(const char* name) { return vkgui::SvgIcon(QStringLiteral(":/matrixvault/%1.svg").arg(QLatin1String(name))); }

constexpr int kButtonRow = 36;

// Hands every cell editor it makes to `filter` (the form), which keeps the
// form's short cuts from being taken by the editor.
class TCellDelegate : public QStyledItemDelegate {
 public:
  TCellDelegate(QObject* parent, QObject* filter) : QStyledItemDelegate(parent), filter_(filter) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor && filter_) editor->installEventFilter(filter_);
    return editor;
  }

 private:
  QObject* filter_;
};

}  // namespace

TFormEditMatrix::TFormEditMatrix(QWidget* owner, const TEditorSettings& settings)
    : QDialog(owner), settings_(settings) {
  setObjectName("FormEditMatrix");
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setMinimumSize(240, 180);
  resize(420, 360);

  Grid = new TMatrixGrid(this);
  StringGrid1 = new QTableView(this);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setModel(Grid);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
  StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::AllEditTriggers);
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid1->horizontalHeader()->setStretchLastSection(true);
  StringGrid1->setItemDelegate(new TCellDelegate(StringGrid1, this));
  StringGrid1->setFocus();

  auto* tools = new QToolBar(this);
  tools->setObjectName("ToolBar1");
  tools->setOrientation(Qt::Vertical);
  auto make = [&](const char* name, const char* caption, QKeySequence key, const char* icon) {
    auto* a = new QAction(Icon(icon), QString::fromUtf8(caption), this);
    a->setObjectName(name);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setToolTip(QString::fromUtf8(caption));
    a->setStatusTip(QString::fromUtf8(caption));
    addAction(a);
    tools->addAction(a);
    return a;
  };
  ActionOpen = make("ActionOpen", "Открыть данные из файла", QKeySequence(Qt::CTRL | Qt::Key_O), "open");
  ActionSave = make("ActionSave", "Сохранить данные в файл", QKeySequence(Qt::CTRL | Qt::Key_S), "save");
  tools->addSeparator();
  ActionMoveUp = make("ActionMoveUp", "Сдвинуть строку вверх", QKeySequence(Qt::CTRL | Qt::Key_Up), "up");
  ActionMoveDown = make("ActionMoveDown", "Сдвинуть строку вниз", QKeySequence(Qt::CTRL | Qt::Key_Down), "down");
  ActionInsert = make("ActionInsert", "Вставить строку", QKeySequence(Qt::CTRL | Qt::Key_Insert), "insert");
  ActionDelete = make("ActionDelete", "Удалить строку", QKeySequence(Qt::CTRL | Qt::Key_Delete), "delete");
  tools->setGeometry(0, 0, 28, 200);
  tools->setProperty("vkRight", true);

  Button1 = new QPushButton(QString::fromUtf8("ОК"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button2 = new QPushButton(QString::fromUtf8("Отмена"), this);
  Button2->setObjectName("Button2");
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  // Any change of the table: it no longer equals the file.
  connect(Grid, &TMatrixGrid::edited, this, [this] { SetFileName(QString()); });
  connect(ActionMoveUp, &QAction::triggered, this, [this] {
    CommitEdit();
    const int r = SelectedRow();
    if (Grid->MoveUp(r)) SelectRow(r - 1);
  });
  connect(ActionMoveDown, &QAction::triggered, this, [this] {
    CommitEdit();
    const int r = SelectedRow();
    if (Grid->MoveDown(r)) SelectRow(r + 1);
  });
  connect(ActionInsert, &QAction::triggered, this, [this] {
    CommitEdit();
    const int r = std::max(0, SelectedRow());
    Grid->InsertRow(r);
    SelectRow(r);
  });
  connect(ActionDelete, &QAction::triggered, this, [this] {
    CommitEdit();
    const int r = SelectedRow();
    const int scroll = StringGrid1->verticalScrollBar() ? StringGrid1->verticalScrollBar()->value() : 0;
    if (!Grid->DeleteRow(r)) return;
    SelectRow(std::min(r, Grid->rowCount() - 1));
    if (StringGrid1->verticalScrollBar()) StringGrid1->verticalScrollBar()->setValue(scroll);
  });
  connect(ActionOpen, &QAction::triggered, this, &TFormEditMatrix::OnOpen);
  connect(ActionSave, &QAction::triggered, this, &TFormEditMatrix::OnSave);
  UpdateCaption();
}

void TFormEditMatrix::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int w = width(), h = height();
  auto* tools = findChild<QToolBar*>("ToolBar1");
  const int toolWidth = tools ? tools->sizeHint().width() : 28;
  StringGrid1->setGeometry(4, 4, std::max(10, w - toolWidth - 12), std::max(10, h - kButtonRow - 8));
  if (tools) tools->setGeometry(w - toolWidth - 4, 4, toolWidth, std::max(10, h - kButtonRow - 8));
  // OK ends 10 pixels left of the middle, Cancel starts 10 pixels right of it.
  const int y = h - kButtonRow + 6;
  const QSize ok = Button1->sizeHint(), cancel = Button2->sizeHint();
  const int bw = std::max({ok.width(), cancel.width(), 80});
  Button1->setGeometry(w / 2 - 10 - bw, y, bw, ok.height());
  Button2->setGeometry(w / 2 + 10, y, bw, cancel.height());
}

void TFormEditMatrix::Fill(const CDoubleMatrix& matrix) {
  Grid->Fill(matrix, settings_.titles);
  // Ready to type: the first cell is the current one.
  if (Grid->columnCount() > 0) StringGrid1->setCurrentIndex(Grid->index(0, 0));
}

bool TFormEditMatrix::eventFilter(QObject* watched, QEvent* event) {
  // A cell editor claims some of the form's short cuts for itself (Ctrl+Insert
  // is "copy" to a line edit, Ctrl+Delete "delete word"): the form's actions
  // come first, so that a row is inserted while a cell is being edited.
  if (event->type() == QEvent::ShortcutOverride) {
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (QAction* action : actions()) {
      if (action->isEnabled() && action->shortcut() == pressed) {
        event->ignore();
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFormEditMatrix::CommitEdit() {
  // What is typed in a cell belongs to the table before a row action.
  QWidget* editor = StringGrid1->indexWidget(StringGrid1->currentIndex());
  if (!editor) return;
  QAbstractItemDelegate* delegate = StringGrid1->itemDelegate();
  emit delegate->commitData(editor);
  emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void TFormEditMatrix::Take(CDoubleMatrix& matrix) const { Grid->Take(matrix); }

void TFormEditMatrix::SetFileName(const QString& name) {
  fileName_ = name;
  UpdateCaption();
}

void TFormEditMatrix::UpdateCaption() {
  QString caption = settings_.caption;
  if (!fileName_.isEmpty())
    caption += QStringLiteral(" (") + QString::fromStdString(ExExtractFullFileName(fileName_.toStdString().c_str())) +
               QLatin1Char(')');
  setWindowTitle(caption);
}

int TFormEditMatrix::SelectedRow() const {
  const QModelIndex current = StringGrid1->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TFormEditMatrix::SelectRow(int row) {
  const QModelIndex index = Grid->index(row, std::max(0, StringGrid1->currentIndex().column()));
  StringGrid1->setCurrentIndex(index);
  StringGrid1->scrollTo(index);
}

void TFormEditMatrix::OnOpen() {
  const QString file = ChooseFileName(this, {QString::fromUtf8("Открыть данные из файла"), vkgui::QtFilter(settings_.filter),
                                             settings_.defaultExt, settings_.initialDir, false});
  if (file.isEmpty()) return;
  CDoubleMatrix loaded;
  // A file that cannot be read is said, and the table stays as it was (it
  // was emptied and named after the file, and OK sent the empty table on).
  if (loaded.LoadFromFile(file.toStdString()) != 0) {
    vkplatform::MessageBox("Ошибка чтения данных из файла " + file.toStdString(), "Ошибка",
                           vkplatform::MsgIcon::Error);
    return;
  }
  Fill(loaded);
  SetFileName(file);
}

void TFormEditMatrix::OnSave() {
  for (;;) {
    const QString file = ChooseFileName(this, {QString::fromUtf8("Сохранить данные в файл"), vkgui::QtFilter(settings_.filter),
                                               settings_.defaultExt, settings_.initialDir, true});
    if (file.isEmpty()) return;
    CDoubleMatrix table;
    Take(table);
    if (table.SaveToFile(file.toStdString()) == 0) {
      SetFileName(file);
      return;
    }
    vkplatform::MessageBox("Ошибка при создании файла", "Ошибка", vkplatform::MsgIcon::Error);
  }
}

}  // namespace matrixvault
