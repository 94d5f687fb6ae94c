#include "limits/LimitDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "GuiPlugin.h"
#include "VKXml.h"
#include "platform/FileUtil.h"
#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

QString Ru(const char* text) { return QString::fromUtf8(text); }

const char* const kColumnTitles[] = {"Граница", "Начало", "Конец", "Уровень в начале", "Уровень в конце"};
const char* const kUpperText = "верхняя";
const char* const kLowerText = "нижняя";

QString NumberText(double v) {
  if (!std::isfinite(v)) return QString::fromStdString(vkcore::FormatXmlDouble(v));
  std::string text;
  vkcore::AppendNumberText(text, v);
  return QString::fromStdString(text);
}

// A finite number written with a point or a comma.
bool ReadNumber(const QString& text, double& value) {
  QString t = text.trimmed();
  t.replace(QLatin1Char(','), QLatin1Char('.'));
  double v = 0;
  if (t.isEmpty() || !vkcore::ParseXmlDouble(t.toStdString(), v) || !std::isfinite(v)) return false;
  value = v;
  return true;
}

QString CsvFilter() { return Ru("Файлы CSV (*.csv);;Все файлы (*)"); }

}  // namespace

TLimitDialog::TLimitDialog(QWidget* owner, const TLimitLines& limits, const QString& traceName, const QString& unit)
    : QDialog(owner), limits_(limits) {
  setObjectName("LimitDialog");
  setWindowTitle(traceName.isEmpty() ? Ru("Границы допуска") : Ru("Границы допуска: ") + traceName);

  caption_ = new QLabel(this);
  caption_->setObjectName("LimitCaption");
  QString text = traceName.isEmpty() ? Ru("Границы трассы") : Ru("Границы трассы «%1»").arg(traceName);
  if (!unit.isEmpty()) text += Ru(", уровни в ") + unit;
  caption_->setText(text);

  enabled_ = new QCheckBox(Ru("Проверять границы"), this);
  enabled_->setObjectName("LimitEnabled");
  enabled_->setChecked(limits.enabled);

  table_ = new QTableWidget(0, kColumnCount, this);
  table_->setObjectName("LimitTable");
  QStringList titles;
  for (const char* t : kColumnTitles) titles << Ru(t);
  table_->setHorizontalHeaderLabels(titles);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // A long number is cut at its end, not wrapped into dots.
  table_->setWordWrap(false);
  table_->setTextElideMode(Qt::ElideRight);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(kKindColumn, QHeaderView::ResizeToContents);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 10);

  const auto button = [this](const char* name, const char* caption, void (TLimitDialog::*action)()) {
    auto* b = new QPushButton(Ru(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
    return b;
  };
  add_ = button("ButtonAdd", "Добавить", &TLimitDialog::AddRow);
  delete_ = button("ButtonDelete", "Удалить", &TLimitDialog::DeleteSelectedRows);
  import_ = button("ButtonImport", "Импорт CSV...", &TLimitDialog::ImportCsv);
  export_ = button("ButtonExport", "Экспорт CSV...", &TLimitDialog::ExportCsv);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("ButtonBox");
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ButtonOk");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("ButtonCancel");
  buttons->button(QDialogButtonBox::Cancel)->setText(Ru("Отмена"));
  connect(buttons, &QDialogButtonBox::accepted, this, &TLimitDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TLimitDialog::reject);

  auto* side = new QVBoxLayout;
  for (QPushButton* b : {add_, delete_, import_, export_}) side->addWidget(b);
  side->addStretch();
  auto* middle = new QHBoxLayout;
  middle->addWidget(table_, 1);
  middle->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addWidget(enabled_);
  layout->addLayout(middle, 1);
  layout->addWidget(buttons);
  resize(680, 360);

  SetRows(limits);
}

void TLimitDialog::SetArgumentRange(double min, double max) {
  if (!std::isfinite(min) || !std::isfinite(max) || min == max) return;
  rangeMin_ = std::min(min, max);
  rangeMax_ = std::max(min, max);
}

void TLimitDialog::SetRows(const TLimitLines& limits) {
  table_->setRowCount(0);
  for (const TLimitSegment& s : limits.upper) AppendRow(true, s);
  for (const TLimitSegment& s : limits.lower) AppendRow(false, s);
}

void TLimitDialog::AppendRow(bool upper, const TLimitSegment& s) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  auto* kind = new QComboBox(table_);
  kind->setObjectName("LimitKind");
  kind->addItems({Ru(kUpperText), Ru(kLowerText)});
  kind->setCurrentIndex(upper ? 0 : 1);
  table_->setCellWidget(row, kKindColumn, kind);
  const double values[] = {s.start, s.stop, s.startLevel, s.stopLevel};
  for (int c = 0; c < 4; ++c) {
    auto* item = new QTableWidgetItem(NumberText(values[c]));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->setItem(row, kStartColumn + c, item);
  }
}

void TLimitDialog::AddRow() {
  const int last = table_->rowCount() - 1;
  TLimitSegment s{rangeMin_, rangeMax_, 0, 0};
  bool upper = true;
  if (last >= 0) {
    // After the last row: as wide as it, from its stop on, at its stop level.
    auto* kind = qobject_cast<QComboBox*>(table_->cellWidget(last, kKindColumn));
    upper = !kind || kind->currentIndex() == 0;
    double v[4] = {0, 0, 0, 0};
    bool ok[4];
    for (int c = 0; c < 4; ++c) {
      const QTableWidgetItem* item = table_->item(last, kStartColumn + c);
      ok[c] = item && ReadNumber(item->text(), v[c]);
    }
    if (ok[1]) {
      const double width = ok[0] && v[1] != v[0] ? std::fabs(v[1] - v[0]) : 1;
      s.start = v[1];
      s.stop = v[1] + width;
    }
    if (ok[3]) s.startLevel = s.stopLevel = v[3];
  }
  AppendRow(upper, s);
  table_->setCurrentCell(table_->rowCount() - 1, kStartColumn);
}

void TLimitDialog::DeleteSelectedRows() {
  QSet<int> rows;
  for (const QModelIndex& i : table_->selectionModel()->selectedIndexes()) rows.insert(i.row());
  if (rows.isEmpty() && table_->currentRow() >= 0) rows.insert(table_->currentRow());
  QList<int> order = rows.values();
  std::sort(order.begin(), order.end(), std::greater<int>());
  for (int r : order) table_->removeRow(r);
}

bool TLimitDialog::ReadTable(TLimitLines& limits, QString& error) const {
  TLimitLines read;
  read.enabled = enabled_->isChecked();
  for (int r = 0; r < table_->rowCount(); ++r) {
    TLimitSegment s;
    double* values[] = {&s.start, &s.stop, &s.startLevel, &s.stopLevel};
    for (int c = 0; c < 4; ++c) {
      const QTableWidgetItem* item = table_->item(r, kStartColumn + c);
      const QString text = item ? item->text() : QString();
      if (!ReadNumber(text, *values[c])) {
        error = Ru("Строка %1, «%2»: ").arg(r + 1).arg(Ru(kColumnTitles[kStartColumn + c])) +
                (text.trimmed().isEmpty() ? Ru("нет числа.") : Ru("«%1» не число.").arg(text));
        return false;
      }
    }
    auto* kind = qobject_cast<QComboBox*>(table_->cellWidget(r, kKindColumn));
    (kind && kind->currentIndex() == 1 ? read.lower : read.upper).push_back(s);
  }
  if (read.upper.size() > kMaxSegments || read.lower.size() > kMaxSegments) {
    error = Ru("Больше %1 отрезков одной границы.").arg(kMaxSegments);
    return false;
  }
  limits = read;
  return true;
}

void TLimitDialog::Refuse(const QString& text, int row, int column) {
  if (row >= 0) {
    table_->setCurrentCell(row, column);
    table_->setFocus();
  }
  vkplatform::MessageBox(text.toStdString(), "Границы допуска", vkplatform::MsgIcon::Error);
}

namespace {
// The row and the column of the first cell that is no number (-1: none).
std::pair<int, int> BadCell(const QTableWidget* table) {
  double v = 0;
  for (int r = 0; r < table->rowCount(); ++r)
    for (int c = TLimitDialog::kStartColumn; c < TLimitDialog::kColumnCount; ++c) {
      const QTableWidgetItem* item = table->item(r, c);
      if (!item || !ReadNumber(item->text(), v)) return {r, c};
    }
  return {-1, -1};
}
}  // namespace

bool TLimitDialog::ReadOrRefuse(TLimitLines& limits) {
  QString error;
  if (ReadTable(limits, error)) return true;
  const auto [row, column] = BadCell(table_);
  Refuse(error, row, column);
  return false;
}

void TLimitDialog::accept() {
  TLimitLines read;
  if (!ReadOrRefuse(read)) return;
  limits_ = read;
  QDialog::accept();
}

void TLimitDialog::ImportCsv() {
  const QString file = ChooseFileName(this, {Ru("Импорт границ допуска"), CsvFilter(), QStringLiteral("csv"), QString(), false});
  if (file.isEmpty()) return;
  // A regular file of a sensible size only: a device or a FIFO would never end.
  std::string bytes;
  vkplatform::ReadFailure why = vkplatform::ReadFailure::none;
  if (!vkplatform::ReadWholeFile(file.toStdString(), bytes, kLimitFileLimit, &why)) {
    Refuse(why == vkplatform::ReadFailure::tooLarge
               ? QString::fromStdString(vkplatform::TooLargeText(file.toStdString(), kLimitFileLimit))
               : Ru("Невозможно открыть файл «%1».").arg(file),
           -1, 0);
    return;
  }
  TLimitLines read;
  std::string error;
  if (!LimitsFromCsv(bytes, read, error)) {
    Refuse(Ru("Файл «%1» не прочитан.\n").arg(QFileInfo(file).fileName()) + QString::fromStdString(error), -1, 0);
    return;
  }
  SetRows(read);
}

void TLimitDialog::ExportCsv() {
  TLimitLines read;
  if (!ReadOrRefuse(read)) return;
  const QString file = ChooseFileName(this, {Ru("Экспорт границ допуска"), CsvFilter(), QStringLiteral("csv"), QString(), true});
  if (file.isEmpty()) return;
  // Replaced whole or not at all.
  const std::string text = LimitsToCsv(read);
  if (vkplatform::WriteFileAtomically(file.toStdString(), text.data(), text.size()) != 0)
    Refuse(Ru("Невозможно записать файл «%1».").arg(file), -1, 0);
}

KORCHART_VARIANT_END
}  // namespace korchart
