#include "ui/StationWindow.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vkresults {

namespace {
const QColor kPass(0x1e, 0x8c, 0x3a);
const QColor kFail(0xc8, 0x1e, 0x1e);
const QColor kWaiting(0x70, 0x70, 0x70);
}  // namespace

CStationWindow::CStationWindow(QWidget* parent) : QWidget(parent) {
  setObjectName("Station");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* form = new QFormLayout();
  serial_ = new QLineEdit(this);
  serial_->setObjectName("SerialEdit");
  serial_->setPlaceholderText(QString::fromUtf8("отсканируйте или введите"));
  operator_ = new QLineEdit(this);
  operator_->setObjectName("OperatorEdit");
  form->addRow(QString::fromUtf8("Серийный номер:"), serial_);
  form->addRow(QString::fromUtf8("Оператор:"), operator_);
  layout->addLayout(form);
  start_ = new QPushButton(QString::fromUtf8("Старт"), this);
  start_->setObjectName("StartButton");
  start_->setToolTip(QString::fromUtf8("Измерить изделие (Enter в поле серийного номера)"));
  layout->addWidget(start_);
  verdict_ = new QLabel(this);
  verdict_->setObjectName("VerdictLabel");
  verdict_->setAlignment(Qt::AlignCenter);
  verdict_->setMinimumHeight(72);
  verdict_->setAutoFillBackground(true);
  QFont big = verdict_->font();
  big.setPointSize(28);
  big.setBold(true);
  verdict_->setFont(big);
  layout->addWidget(verdict_);
  time_ = new QLabel(this);
  time_->setObjectName("TimeLabel");
  layout->addWidget(time_);
  auto* failingTitle = new QLabel(QString::fromUtf8("Нарушенные границы:"), this);
  layout->addWidget(failingTitle);
  failing_ = new QListWidget(this);
  failing_->setObjectName("FailingList");
  failing_->setMinimumHeight(60);
  layout->addWidget(failing_, 1);
  store_ = new QLabel(this);
  store_->setObjectName("StoreLabel");
  store_->setWordWrap(true);
  layout->addWidget(store_);
  results_ = new QPushButton(QString::fromUtf8("Результаты..."), this);
  results_->setObjectName("ResultsButton");
  layout->addWidget(results_);

  QObject::connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  QObject::connect(serial_, &QLineEdit::returnPressed, this, [this] { Start(); });
  QObject::connect(results_, &QPushButton::clicked, this, [this] {
    if (onShowResults) onShowResults();
  });
  ShowIdle();
}

void CStationWindow::Start() {
  if (!start_->isEnabled()) return;
  const std::string serial = Serial();
  if (serial.empty()) {
    serial_->setFocus();
    SetVerdictText(QString::fromUtf8("Нет номера"), kWaiting);
    return;
  }
  if (onStart) onStart(serial, Operator());
}

std::string CStationWindow::Serial() const { return serial_->text().trimmed().toStdString(); }
std::string CStationWindow::Operator() const { return operator_->text().trimmed().toStdString(); }
void CStationWindow::SetOperator(const std::string& name) { operator_->setText(QString::fromStdString(name)); }

void CStationWindow::SetVerdictText(const QString& text, const QColor& background) {
  verdict_->setText(text);
  QPalette p = verdict_->palette();
  p.setColor(QPalette::Window, background);
  p.setColor(QPalette::WindowText, Qt::white);
  verdict_->setPalette(p);
}

void CStationWindow::ShowIdle() {
  SetVerdictText(QString::fromUtf8("—"), kWaiting);
  time_->clear();
  failing_->clear();
}

void CStationWindow::ShowMeasuring(int sweepsAwaited) {
  SetVerdictText(QString::fromUtf8("Измерение..."), kWaiting);
  time_->setText(QString::fromUtf8("Ожидается развёрток: %1").arg(sweepsAwaited));
  failing_->clear();
}

void CStationWindow::ShowVerdict(bool pass, const std::vector<std::string>& failing, double seconds) {
  SetVerdictText(pass ? QString::fromUtf8("ГОДЕН") : QString::fromUtf8("БРАК"), pass ? kPass : kFail);
  time_->setText(QString::fromUtf8("Время изделия: %1 с").arg(QLocale().toString(seconds, 'f', 1)));
  failing_->clear();
  for (const std::string& name : failing) failing_->addItem(QString::fromStdString(name));
  // The next unit's number replaces this one as it is typed or scanned.
  serial_->selectAll();
  serial_->setFocus();
}

void CStationWindow::ShowStore(const std::string& text, bool problem) {
  store_->setText(QString::fromStdString(text));
  store_->setStyleSheet(problem ? "color: #c81e1e;" : "");
}

void CStationWindow::SetStartEnabled(bool enabled) { start_->setEnabled(enabled); }

}  // namespace vkresults
