#include "FormConnect.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <cstdio>

#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "VKPaths.h"
#include "platform/Report.h"

namespace linkdialog {
namespace {

QString Qs(const std::string& s) { return QString::fromStdString(s); }

QPixmap Picture(const char* name, int size) {
  return vkgui::SvgPixmap(QStringLiteral(":/linkdialog/%1.svg").arg(QLatin1String(name)), size, size);
}

QIcon Icon(const char* name) { return QIcon(Picture(name, 16)); }

// The dotted line between the two pictures of the connection frame.
class TDottedLine : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 2, Qt::DotLine));
    painter.drawLine(0, height() / 2, width(), height() / 2);
  }
};

constexpr int kNumberColumn = 20;

}  // namespace

// ---- the grid -------------------------------------------------------------------

TAddressGrid::TAddressGrid(QWidget* parent) : QTableWidget(0, 3, parent) {
  setObjectName("StringGrid1");
  setHorizontalHeaderLabels({QString::fromUtf8("№"), QString::fromUtf8("Имя"), QString::fromUtf8("Адрес")});
  verticalHeader()->hide();
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setColumnWidth(0, kNumberColumn);
}

void TAddressGrid::FitColumns() {
  // The name and the address share what the number leaves, half each.
  const int rest = std::max(0, viewport()->width() - kNumberColumn);
  setColumnWidth(0, kNumberColumn);
  setColumnWidth(1, rest / 2);
  setColumnWidth(2, rest - rest / 2);
}

void TAddressGrid::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  FitColumns();
}

void TAddressGrid::mousePressEvent(QMouseEvent* event) {
  QTableWidget::mousePressEvent(event);
  dragRow_ = event->button() == Qt::LeftButton ? rowAt(event->position().toPoint().y()) : -1;
}

void TAddressGrid::mouseMoveEvent(QMouseEvent* event) {
  if (dragRow_ >= 0 && (event->buttons() & Qt::LeftButton)) {
    const int over = rowAt(event->position().toPoint().y());
    if (over >= 0 && over != dragRow_) {
      emit rowDragged(dragRow_, over);
      dragRow_ = over;
    }
    return;
  }
  QTableWidget::mouseMoveEvent(event);
}

void TAddressGrid::mouseReleaseEvent(QMouseEvent* event) {
  dragRow_ = -1;
  QTableWidget::mouseReleaseEvent(event);
}

// ---- the entry editor -------------------------------------------------------------

TFormEditItem::TFormEditItem(QWidget* owner, const QString& caption) : QDialog(owner) {
  setObjectName("FormEditItem");
  setWindowTitle(caption);
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QString::fromUtf8("Имя")), 0, 0);
  grid->addWidget(new QLabel(QString::fromUtf8("Адрес")), 1, 0);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  Edit1->setMinimumWidth(220);
  grid->addWidget(Edit1, 0, 1);
  grid->addWidget(Edit2, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("ButtonOK");
  ok->setDefault(true);
  auto* cancel = new QPushButton(QString::fromUtf8("Отмена"), this);
  cancel->setObjectName("ButtonCancel");
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 2, 0, 1, 2);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

// ---- the address frame --------------------------------------------------------------

TFrameAddress::TFrameAddress(QWidget* parent, const std::string& deviceType, QPushButton* okButton)
    : QWidget(parent), deviceType_(deviceType), okButton_(okButton) {
  setObjectName("FrameAddress");
  StringGrid1 = new TAddressGrid(this);
  CheckBoxAutoConnect = new QCheckBox(QString::fromUtf8("Автоматически подключаться по последнему адресу"), this);
  CheckBoxAutoConnect->setObjectName("CheckBoxAutoConnect");
  auto* tools = new QToolBar(this);
  tools->setObjectName("ToolBar1");
  tools->setOrientation(Qt::Vertical);
  tools->setToolButtonStyle(Qt::ToolButtonIconOnly);
  auto make = [&](const char* name, const char* caption, QKeySequence key, const char* hint, const char* icon) {
    auto* a = new QAction(Icon(icon), QString::fromUtf8(caption), this);
    a->setObjectName(name);
    a->setShortcut(key);
    // The keys act on the list, where its focus is: Space on the check box
    // toggles it, it does not open an entry.
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    a->setToolTip(QString::fromUtf8(hint));
    a->setStatusTip(QString::fromUtf8(hint));
    StringGrid1->addAction(a);
    tools->addAction(a);
    return a;
  };
  ActionUp = make("ActionUp", "Вверх", QKeySequence(Qt::CTRL | Qt::Key_Up), "Переместить запись вверх", "up");
  ActionDown = make("ActionDown", "Вниз", QKeySequence(Qt::CTRL | Qt::Key_Down), "Переместить запись вниз", "down");
  ActionAdd = make("ActionAdd", "Добавить", QKeySequence(Qt::Key_Insert), "Добавить запись", "add");
  ActionChange = make("ActionChange", "Изменить", QKeySequence(Qt::Key_Space), "Изменить запись", "change");
  ActionDelete = make("ActionDelete", "Удалить", QKeySequence(Qt::Key_Delete), "Удалить запись", "delete");

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(StringGrid1, 1);
  row->addWidget(tools);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(row, 1);
  column->addWidget(CheckBoxAutoConnect);

  connect(ActionUp, &QAction::triggered, this, [this] {
    const int r = StringGrid1->currentRow();
    if (r > 0) MoveRow(r, r - 1);
  });
  connect(ActionDown, &QAction::triggered, this, [this] {
    const int r = StringGrid1->currentRow();
    if (r >= 0 && r + 1 < StringGrid1->rowCount()) MoveRow(r, r + 1);
  });
  connect(ActionAdd, &QAction::triggered, this, &TFrameAddress::OnAdd);
  connect(ActionChange, &QAction::triggered, this, &TFrameAddress::OnChange);
  connect(ActionDelete, &QAction::triggered, this, &TFrameAddress::OnDelete);
  connect(StringGrid1, &TAddressGrid::rowDragged, this, &TFrameAddress::MoveRow);
  connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, [this](int, int column) {
    if (column > 0 && okButton_) okButton_->click();
  });
  LoadList();
}

void TFrameAddress::AddRow(const QString& name, const QString& host) {
  const int r = StringGrid1->rowCount();
  StringGrid1->insertRow(r);
  StringGrid1->setItem(r, 0, new QTableWidgetItem);
  StringGrid1->setItem(r, 1, new QTableWidgetItem(name));
  StringGrid1->setItem(r, 2, new QTableWidgetItem(host));
}

void TFrameAddress::Renumber() {
  for (int r = 0; r < StringGrid1->rowCount(); ++r) {
    if (!StringGrid1->item(r, 0)) StringGrid1->setItem(r, 0, new QTableWidgetItem);
    StringGrid1->item(r, 0)->setText(QString::number(r + 1));
  }
}

void TFrameAddress::LoadList() {
  CheckBoxAutoConnect->disconnect(this);
  StringGrid1->setRowCount(0);
  TAddressList list;
  if (LoadAddressList(GetConfigFileName(), deviceType_, list)) {
    CheckBoxAutoConnect->setChecked(list.autoConnect);
    lastAddress_ = Qs(list.lastHost);
    for (const TAddressEntry& e : list.entries) AddRow(Qs(e.name), Qs(e.host));
  }
  if (StringGrid1->rowCount() == 0) AddRow(QString(), QString());
  StringGrid1->selectRow(0);
  Renumber();
  connect(CheckBoxAutoConnect, &QCheckBox::clicked, this, &TFrameAddress::SaveList);
}

TAddressList TFrameAddress::List() const {
  TAddressList list;
  list.autoConnect = CheckBoxAutoConnect->isChecked();
  list.lastHost = lastAddress_.toStdString();
  for (int r = 0; r < StringGrid1->rowCount(); ++r) {
    const QTableWidgetItem* name = StringGrid1->item(r, 1);
    const QTableWidgetItem* host = StringGrid1->item(r, 2);
    TAddressEntry e{name ? name->text().toStdString() : std::string(), host ? host->text().toStdString() : std::string()};
    // The empty row an empty list shows is no entry.
    if (!e.name.empty() || !e.host.empty()) list.entries.push_back(e);
  }
  return list;
}

void TFrameAddress::SaveList() {
  const AnsiString file = GetConfigFileName();
  if (SaveAddressList(file, deviceType_, List())) return;
  // The operator's list is data: say that it was not kept.
  vkplatform::MessageBox("Не удалось сохранить список адресов в файле \"" + file + "\".", "Ошибка",
                         vkplatform::MsgIcon::Error);
}

QString TFrameAddress::SelectedAddress() const {
  const int r = StringGrid1->currentRow();
  const QTableWidgetItem* host = r >= 0 ? StringGrid1->item(r, 2) : nullptr;
  return host ? host->text() : QString();
}

void TFrameAddress::MoveRow(int from, int to) {
  if (from < 0 || to < 0 || from >= StringGrid1->rowCount() || to >= StringGrid1->rowCount() || from == to) return;
  QList<QTableWidgetItem*> items;
  for (int c = 0; c < 3; ++c) items << StringGrid1->takeItem(from, c);
  StringGrid1->removeRow(from);
  StringGrid1->insertRow(to);
  for (int c = 0; c < 3; ++c) StringGrid1->setItem(to, c, items[c]);
  StringGrid1->selectRow(to);
  Renumber();
  SaveList();
}

void TFrameAddress::OnAdd() {
  TFormEditItem form(this, QString::fromUtf8("Добавить запись"));
  if (ExecModalDialog(&form) != QDialog::Accepted) return;
  // An empty list shows one empty row: the first entry takes its place.
  const TAddressList before = List();
  if (before.entries.empty()) StringGrid1->setRowCount(0);
  AddRow(form.Edit1->text(), form.Edit2->text());
  StringGrid1->selectRow(StringGrid1->rowCount() - 1);
  Renumber();
  SaveList();
}

void TFrameAddress::OnChange() {
  const int r = StringGrid1->currentRow();
  if (r < 0) return;
  TFormEditItem form(this, QString::fromUtf8("Изменить запись"));
  form.Edit1->setText(StringGrid1->item(r, 1) ? StringGrid1->item(r, 1)->text() : QString());
  form.Edit2->setText(StringGrid1->item(r, 2) ? StringGrid1->item(r, 2)->text() : QString());
  if (ExecModalDialog(&form) != QDialog::Accepted) return;
  StringGrid1->setItem(r, 1, new QTableWidgetItem(form.Edit1->text()));
  StringGrid1->setItem(r, 2, new QTableWidgetItem(form.Edit2->text()));
  SaveList();
}

void TFrameAddress::OnDelete() {
  const int r = StringGrid1->currentRow();
  if (r >= 0) {
    const QString name = StringGrid1->item(r, 1) ? StringGrid1->item(r, 1)->text() : QString();
    const auto answer = vkplatform::MessageBox("Удалить запись \"" + name.toStdString() + "\"?", "Подтверждение",
                                               vkplatform::MsgIcon::Question, vkplatform::MsgButtons::YesNo,
                                               vkplatform::MsgAnswer::Yes);
    if (answer == vkplatform::MsgAnswer::Yes) {
      StringGrid1->removeRow(r);
      SaveList();
    }
  }
  Renumber();
}

// ---- the connection and error frames -------------------------------------------------

TFrameConnection::TFrameConnection(QWidget* parent) : QWidget(parent) {
  setObjectName("FrameConnection");
  Message = new QLabel(QString::fromUtf8("Подключение к прибору..."), this);
  Message->setObjectName("Message");
  Message->setAlignment(Qt::AlignCenter);
  QFont bold = Message->font();
  bold.setBold(true);
  Message->setFont(bold);
  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");
  Image2->setPixmap(Picture("computer", 48));
  Image2->resize(48, 48);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setPixmap(Picture("device", 48));
  Image1->resize(48, 48);
  Shape1 = new TDottedLine(this);
  Shape1->setObjectName("Shape1");
  Shape1->resize(1, 8);  // it grows from nothing
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, &TFrameConnection::Tick);
  Place();
}

void TFrameConnection::Place() {
  const int w = width();
  Message->setGeometry(0, 4, w, 20);
  Image2->move(20, 32);
  Image1->move(std::max(80, w - 20 - Image1->width()), 32);
  const int start = Image2->x() + Image2->width() + 4;
  Shape1->setGeometry(start, 32 + 20, std::max(1, Shape1->width()), 8);
  Memo1->setGeometry(4, 90, std::max(10, w - 8), std::max(20, height() - 94));
}

void TFrameConnection::resizeEvent(QResizeEvent*) { Place(); }

int TFrameConnection::LineWidth() const { return Shape1->width(); }

void TFrameConnection::Tick() {
  int width = Shape1->width() + 1;
  const int edge = Image1->x() - Shape1->x();
  if (width > edge + 10) width = std::max(1, edge);
  Shape1->resize(width, Shape1->height());
}

TFrameError::TFrameError(QWidget* parent) : QWidget(parent) {
  setObjectName("FrameError");
  auto* picture = new QLabel(this);
  picture->setObjectName("ImageError");
  picture->setPixmap(Picture("error", 40));
  auto* title = new QLabel(QString::fromUtf8("Ошибка при подключении к прибору:"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  LabelError = new QLabel(this);
  LabelError->setObjectName("LabelError");
  LabelError->setWordWrap(true);
  auto* hint = new QLabel(QString::fromUtf8("Нажмите ОК чтобы повторить попытку подключения."), this);
  hint->setWordWrap(true);
  auto* text = new QVBoxLayout;
  text->addWidget(title);
  text->addWidget(LabelError);
  text->addStretch(1);
  text->addWidget(hint);
  auto* row = new QHBoxLayout(this);
  row->addWidget(picture, 0, Qt::AlignTop);
  row->addLayout(text, 1);
}

// ---- the dialog -----------------------------------------------------------------------

TFormConnect::TFormConnect(QWidget* owner, const std::string& deviceType, const QString& deviceName)
    : QDialog(owner) {
  setObjectName("FormConnect");
  setWindowTitle(QString::fromUtf8("Подключение к прибору ") + deviceName);
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedWidth(400);
  setMinimumHeight(200);
  resize(400, 259);
  Button1 = new QPushButton(QString::fromUtf8("ОК"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button2 = new QPushButton(QString::fromUtf8("Отмена"), this);
  Button2->setObjectName("Button2");
  ActionConnect = new QAction(QIcon(Picture("connect", 16)), QString::fromUtf8("Подключение к ") + deviceName, this);
  ActionConnect->setObjectName("ActionConnect");

  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  frames_ = new QStackedWidget(Panel1);
  auto* panelLayout = new QVBoxLayout(Panel1);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->addWidget(frames_);
  Address = new TFrameAddress(frames_, deviceType, Button1);
  Connection = new TFrameConnection(frames_);
  Error = new TFrameError(frames_);
  frames_->addWidget(Address);
  frames_->addWidget(Connection);
  frames_->addWidget(Error);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(Panel1, 1);
  layout->addLayout(buttons);

  connect(Button1, &QPushButton::clicked, this, &TFormConnect::OnOk);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  ShowAddressFrame();
}

QWidget* TFormConnect::CurrentFrame() const { return frames_->currentWidget(); }

void TFormConnect::ShowAddressFrame() {
  Connection->Timer1->stop();
  frames_->setCurrentWidget(Address);
  Button1->setEnabled(true);
  Button2->setEnabled(true);
}

void TFormConnect::OnOk() {
  if (frames_->currentWidget() == Address) StartConnecting(Address->SelectedAddress(), true);
  else ShowAddressFrame();
}

void TFormConnect::StartConnecting(const QString& address, bool saveList) {
  Connection->Memo1->setPlainText(QString::fromUtf8("Подключение к прибору..."));
  Connection->Message->setText(QString::fromUtf8("Подключение к прибору..."));
  frames_->setCurrentWidget(Connection);
  Connection->Timer1->start();
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Address->SetLastAddress(address);
  if (OnConnect) OnConnect(address.toStdString());
  if (saveList && Address->CheckBoxAutoConnect->isChecked()) Address->SaveList();
}

void TFormConnect::ShowConnectionError(const QString& text) {
  Connection->Timer1->stop();
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  Error->LabelError->setText(text);
  frames_->setCurrentWidget(Error);
}

void TFormConnect::DeviceAnswers() {
  Connection->Memo1->appendPlainText(QString::fromUtf8("Инициализация прибора..."));
  Connection->Message->setText(QString::fromUtf8("Инициализация прибора..."));
}

void TFormConnect::ConnectionDone() {
  Connection->Message->setText(QString::fromUtf8("Подключение осуществлено"));
  accept();
  ShowAddressFrame();
}

}  // namespace linkdialog
