#include "markers/MarkProperties.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "KorSpinEdit.h"
#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

QString Ru(const char* text) { return QString::fromUtf8(text); }

constexpr int kActionRole = Qt::UserRole;
constexpr int kDeltaRole = Qt::UserRole + 1;
constexpr int kMaxDigits = 6;

// The series' colour as the combo's item icon.
QIcon ColourIcon(unsigned rgb) {
  QPixmap pixmap(12, 12);
  pixmap.fill(QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFFu)));
  return QIcon(pixmap);
}

void Error(const QString& text) {
  vkplatform::MessageBox(text.toStdString(), "Ошибка", vkplatform::MsgIcon::Error);
}

}  // namespace

TMarkProperties::TMarkProperties(QWidget* owner, const SMarkParams& params,
                                 const std::vector<TSeriesInfo>& series)
    : QDialog(owner), params_(params), action_(params.action), delta_(params.deltaMeasure) {
  setObjectName("MarkProperties");
  // F1: the markers' help page.
  setProperty("helpContext", kMarkersHelpContext);
  setWindowTitle(Ru("Свойства маркера"));

  // ---- the mode tree: groups are headings, the leaves are the modes
  modeTree_ = new QTreeWidget(this);
  modeTree_->setObjectName("ModeTree");
  modeTree_->setHeaderHidden(true);
  modeTree_->setSelectionMode(QAbstractItemView::SingleSelection);
  modeTree_->setMinimumWidth(170);
  auto group = [this](const char* caption) {
    auto* item = new QTreeWidgetItem(modeTree_, {Ru(caption)});
    item->setFlags(Qt::ItemIsEnabled);
    return item;
  };
  QTreeWidgetItem* position = group("Частота");
  AddLeaf(position, "Свободное положение", EMarkAction::Free, false);
  QTreeWidgetItem* level = group("Уровень");
  AddLeaf(level, "Минимум", EMarkAction::Minimum, false);
  AddLeaf(level, "Максимум", EMarkAction::Maximum, false);
  AddLeaf(level, "Фиксированный", EMarkAction::Fixed, false);
  QTreeWidgetItem* difference = group("Разность уровней");
  AddLeaf(difference, "Минимум", EMarkAction::Minimum, true);
  AddLeaf(difference, "Максимум", EMarkAction::Maximum, true);
  AddLeaf(difference, "Фиксированная", EMarkAction::Fixed, true);
  modeTree_->expandAll();

  // ---- the series
  auto* linkBox = new QGroupBox(Ru("Привязка"), this);
  linkBox->setObjectName("GroupLink");
  auto* linkGrid = new QGridLayout(linkBox);
  trace1_ = MakeTraceCombo("ComboTrace1", params.linkTrace, series);
  trace2_ = MakeTraceCombo("ComboTrace2", params.deltaTrace, series);
  trace2Label_ = new QLabel(Ru("Канал 2"), linkBox);
  trace2Label_->setObjectName("LabelTrace2");
  linkGrid->addWidget(new QLabel(Ru("Канал 1"), linkBox), 0, 0);
  linkGrid->addWidget(trace1_, 0, 1);
  linkGrid->addWidget(trace2Label_, 1, 0);
  linkGrid->addWidget(trace2_, 1, 1);
  linkGrid->setColumnStretch(1, 1);

  // ---- the numbers
  auto* frequencyBox = new QGroupBox(Ru("Частота"), this);
  frequencyBox->setObjectName("GroupFrequency");
  auto* frequencyRow = new QHBoxLayout(frequencyBox);
  frequencyRow->addWidget(MakeNumber(frequency_, "EditFrequency", "Частота", params.position), 1);
  frequencyRow->addWidget(new QLabel(Ru("МГц"), frequencyBox));

  limitsBox_ = new QGroupBox(Ru("Диапазон"), this);
  limitsBox_->setObjectName("GroupLimits");
  auto* limitsGrid = new QGridLayout(limitsBox_);
  limitsGrid->addWidget(new QLabel(Ru("мин."), limitsBox_), 0, 0);
  limitsGrid->addWidget(MakeNumber(limitMin_, "EditLimitMin", "Диапазон, мин.", params.limitMin), 0, 1);
  limitsGrid->addWidget(new QLabel(Ru("МГц"), limitsBox_), 0, 2);
  limitsGrid->addWidget(new QLabel(Ru("макс."), limitsBox_), 1, 0);
  limitsGrid->addWidget(MakeNumber(limitMax_, "EditLimitMax", "Диапазон, макс.", params.limitMax), 1, 1);
  limitsGrid->addWidget(new QLabel(Ru("МГц"), limitsBox_), 1, 2);
  limitsGrid->setColumnStretch(1, 1);

  divergenceBox_ = new QGroupBox(Ru("Смещение"), this);
  divergenceBox_->setObjectName("GroupDivergence");
  auto* divergenceGrid = new QGridLayout(divergenceBox_);
  divergenceGrid->addWidget(MakeNumber(divergence_, "EditDivergence", "Смещение", params.divergence), 0, 0);
  divergenceGrid->addWidget(new QLabel(Ru("ед. изм."), divergenceBox_), 0, 1);
  radioLeft_ = new QRadioButton(Ru("Слева"), divergenceBox_);
  radioLeft_->setObjectName("RadioLeft");
  radioRight_ = new QRadioButton(Ru("Справа"), divergenceBox_);
  radioRight_->setObjectName("RadioRight");
  (params.divergenceRight ? radioRight_ : radioLeft_)->setChecked(true);
  auto* sides = new QHBoxLayout;
  sides->addWidget(radioLeft_);
  sides->addWidget(radioRight_);
  sides->addStretch(1);
  divergenceGrid->addLayout(sides, 1, 0, 1, 2);
  divergenceGrid->setColumnStretch(0, 1);

  // ---- the label
  auto* displayBox = new QGroupBox(Ru("Отображение"), this);
  displayBox->setObjectName("GroupDisplay");
  auto* displayGrid = new QGridLayout(displayBox);
  auto digits = [displayBox](const char* name, int value) {
    auto* spin = new QSpinBox(displayBox);
    spin->setObjectName(name);
    spin->setRange(0, kMaxDigits);
    spin->setValue(value);  // a count out of the range is brought into it
    return spin;
  };
  argumentDigits_ = digits("SpinArgumentDigits", params.argumentDigits);
  valueDigits_ = digits("SpinValueDigits", params.valueDigits);
  displayGrid->addWidget(new QLabel(Ru("Знаков частоты"), displayBox), 0, 0);
  displayGrid->addWidget(argumentDigits_, 0, 1);
  displayGrid->addWidget(new QLabel(Ru("Знаков значений"), displayBox), 1, 0);
  displayGrid->addWidget(valueDigits_, 1, 1);
  displayGrid->setColumnStretch(0, 1);

  // ---- the reading's tolerance, for the display's verdict
  auto* toleranceBox = new QGroupBox(Ru("Допуск значения"), this);
  toleranceBox->setObjectName("GroupTolerance");
  toleranceBox->setCheckable(true);
  toleranceBox->setChecked(params.readingLimits.enabled);
  tolerance_ = toleranceBox;
  auto* toleranceRow = new QHBoxLayout(toleranceBox);
  readingMin_ = new QLineEdit(QString::fromStdString(BoundText(params.readingLimits.hasMin, params.readingLimits.min)), toleranceBox);
  readingMin_->setObjectName("EditReadingMin");
  readingMax_ = new QLineEdit(QString::fromStdString(BoundText(params.readingLimits.hasMax, params.readingLimits.max)), toleranceBox);
  readingMax_->setObjectName("EditReadingMax");
  toleranceRow->addWidget(new QLabel(Ru("от"), toleranceBox));
  toleranceRow->addWidget(readingMin_, 1);
  toleranceRow->addWidget(new QLabel(Ru("до"), toleranceBox));
  toleranceRow->addWidget(readingMax_, 1);

  active_ = new QCheckBox(Ru("Активна"), this);
  active_->setObjectName("CheckActive");
  active_->setChecked(params.enabled);
  statistics_ = new QCheckBox(Ru("Статистика (мин./ср.зн./макс./ср.кв.откл.)"), this);
  statistics_->setObjectName("CheckStatistics");
  statistics_->setChecked(params.showStatistics);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("ButtonOK");
  ok->setDefault(true);
  auto* cancel = new QPushButton(Ru("Отмена"), this);
  cancel->setObjectName("ButtonCancel");
  connect(ok, &QPushButton::clicked, this, &TMarkProperties::OnOk);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QVBoxLayout;
  fields->addWidget(linkBox);
  fields->addWidget(frequencyBox);
  fields->addWidget(limitsBox_);
  fields->addWidget(divergenceBox_);
  fields->addWidget(displayBox);
  fields->addWidget(toleranceBox);
  fields->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(modeTree_);
  top->addLayout(fields, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* column = new QVBoxLayout(this);
  column->addLayout(top, 1);
  column->addWidget(active_);
  column->addWidget(statistics_);
  column->addLayout(buttons);

  SelectModeLeaf();
  connect(modeTree_, &QTreeWidget::itemSelectionChanged, this, &TMarkProperties::ModeSelected);
  UpdateFields();
}

QTreeWidgetItem* TMarkProperties::AddLeaf(QTreeWidgetItem* group, const char* caption, EMarkAction action,
                                          bool delta) {
  auto* item = new QTreeWidgetItem(group, {Ru(caption)});
  item->setData(0, kActionRole, static_cast<int>(action));
  item->setData(0, kDeltaRole, delta);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

QComboBox* TMarkProperties::MakeTraceCombo(const char* name, int current,
                                           const std::vector<TSeriesInfo>& series) {
  auto* combo = new QComboBox(this);
  combo->setObjectName(name);
  combo->addItem(Ru("нет"), 0);
  const int count = static_cast<int>(std::min<size_t>(series.size(), kMaxSeries));
  for (int i = 0; i < count; ++i)
    combo->addItem(ColourIcon(series[i].color), QString::fromStdString(series[i].title), i + 1);
  // A series the chart does not have now (its data not loaded yet, say)
  // stays chosen rather than being dropped to "нет".
  if (current < 0 || current > count)
    combo->addItem(Ru("серия %1 (нет на графике)").arg(current), current);
  combo->setCurrentIndex(combo->findData(current));
  return combo;
}

TKorSpinEdit* TMarkProperties::MakeNumber(TNumber& field, const char* name, const char* caption,
                                          double value) {
  field.edit = new TKorSpinEdit(this);
  field.edit->setObjectName(name);
  field.edit->SetPrecision(12);
  field.edit->SetValue(value);
  field.original = value;
  field.shown = field.edit->text();
  field.caption = Ru(caption);
  return field.edit;
}

// The leaf of the current mode. A free marker has one leaf, whatever its
// delta flag says; the flag itself stays as it came until the operator picks
// a mode.
void TMarkProperties::SelectModeLeaf() {
  const QSignalBlocker quiet(modeTree_);
  for (QTreeWidgetItemIterator it(modeTree_); *it; ++it) {
    QTreeWidgetItem* item = *it;
    if (!item->data(0, kActionRole).isValid()) continue;
    const auto action = static_cast<EMarkAction>(item->data(0, kActionRole).toInt());
    if (action == action_ && (action == EMarkAction::Free || item->data(0, kDeltaRole).toBool() == delta_)) {
      modeTree_->setCurrentItem(item);
      return;
    }
  }
}

void TMarkProperties::ModeSelected() {
  const QList<QTreeWidgetItem*> selected = modeTree_->selectedItems();
  if (selected.isEmpty() || !selected.first()->data(0, kActionRole).isValid()) {
    // A click on a heading clears the selection: the mode stays, and so
    // does its leaf.
    SelectModeLeaf();
    return;
  }
  action_ = static_cast<EMarkAction>(selected.first()->data(0, kActionRole).toInt());
  delta_ = selected.first()->data(0, kDeltaRole).toBool();
  UpdateFields();
}

// Which fields mean something in the mode:
//  * the range is where a search looks: not used by a free marker;
//  * the divergence is the offset from a found minimum or maximum, with its
//    side, or the level of a fixed-level search (no side there): none of
//    it is used by a free marker;
//  * the second series is read only by a level difference.
// The position, the first series, the digits and the switches apply in every
// mode. A disabled field keeps its value.
void TMarkProperties::UpdateFields() {
  const bool search = action_ != EMarkAction::Free;
  limitsBox_->setEnabled(search);
  divergenceBox_->setEnabled(search);
  radioLeft_->setEnabled(action_ == EMarkAction::Minimum || action_ == EMarkAction::Maximum);
  radioRight_->setEnabled(radioLeft_->isEnabled());
  trace2_->setVisible(delta_);
  trace2Label_->setVisible(delta_);
}

double TMarkProperties::NumberOf(const TNumber& field) {
  if (field.edit->text() == field.shown) return field.original;
  double v = 0;
  if (field.edit->TryGetValue(v) && std::isfinite(v)) return v;
  return field.original;
}

bool TMarkProperties::ReadNumber(const TNumber& field, double& value) const {
  value = NumberOf(field);
  if (field.edit->text() == field.shown) return true;
  double typed = 0;
  if (field.edit->TryGetValue(typed) && std::isfinite(typed)) return true;
  Error(Ru("Поле «%1»: «%2» не является числом").arg(field.caption, field.edit->text()));
  field.edit->setFocus();
  field.edit->selectAll();
  return false;
}

// Only what the operator can reach is checked: a field disabled in the
// chosen mode is not refused for what it holds (an unreadable text there
// gives back the value the dialog was opened with).
void TMarkProperties::OnOk() {
  double v = 0;
  if (!ReadNumber(frequency_, v)) return;
  if (limitsBox_->isEnabled()) {
    double lo = 0, hi = 0;
    if (!ReadNumber(limitMin_, lo) || !ReadNumber(limitMax_, hi)) return;
    // A reversed range is refused, not swapped: the operator sees which
    // number he typed wrong.
    if (lo > hi) {
      Error(Ru("Нижняя граница диапазона больше верхней"));
      limitMin_.edit->setFocus();
      limitMin_.edit->selectAll();
      return;
    }
  }
  if (divergenceBox_->isEnabled() && !ReadNumber(divergence_, v)) return;
  // A search needs the series it searches, and a level difference its
  // second one: "нет" there is refused, not left to do nothing.
  if (action_ != EMarkAction::Free) {
    QComboBox* missing = TraceOf(trace1_) == 0 ? trace1_ : delta_ && TraceOf(trace2_) == 0 ? trace2_ : nullptr;
    if (missing) {
      Error(Ru("Для поиска выберите трассу в поле «%1»").arg(Ru(missing == trace1_ ? "Канал 1" : "Канал 2")));
      missing->setFocus();
      return;
    }
  }
  TValueLimits tolerance;
  if (!ParseTolerance(tolerance_->isChecked(), readingMin_->text().toStdString(), readingMax_->text().toStdString(),
                      tolerance)) {
    Error(Ru("Допуск значения: границы должны быть числами, нижняя не больше верхней"));
    readingMin_->setFocus();
    return;
  }
  accept();
}

int TMarkProperties::TraceOf(const QComboBox* combo) { return combo->currentData().toInt(); }

SMarkParams TMarkProperties::Params() const {
  SMarkParams p = params_;
  p.action = action_;
  p.deltaMeasure = delta_;
  p.linkTrace = TraceOf(trace1_);
  p.deltaTrace = TraceOf(trace2_);
  p.position = NumberOf(frequency_);
  p.limitMin = NumberOf(limitMin_);
  p.limitMax = NumberOf(limitMax_);
  p.divergence = NumberOf(divergence_);
  p.divergenceRight = radioRight_->isChecked();
  p.argumentDigits = argumentDigits_->value();
  p.valueDigits = valueDigits_->value();
  p.enabled = active_->isChecked();
  p.showStatistics = statistics_->isChecked();
  if (!ParseTolerance(tolerance_->isChecked(), readingMin_->text().toStdString(), readingMax_->text().toStdString(),
                      p.readingLimits))
    p.readingLimits = params_.readingLimits;
  return p;
}

KORCHART_VARIANT_END
}  // namespace korchart
