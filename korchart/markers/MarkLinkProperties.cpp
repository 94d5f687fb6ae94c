#include "markers/MarkLinkProperties.h"

#include <cmath>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/Report.h"
#include "VKXml.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

QString Ru(const char* text) { return QString::fromUtf8(text); }
QString Qs(const std::string& s) { return QString::fromStdString(s); }

// The description as the library gave it, kept with the row: removal names
// the entry by these bytes, not by what the list shows.
constexpr int kDescriptionRole = Qt::UserRole;

void Error(const char* text) { vkplatform::MessageBox(text, "Ошибка", vkplatform::MsgIcon::Error); }

}  // namespace

TMarkLinkProperties::TMarkLinkProperties(QWidget* owner, const SLinkParams& params, TPresetAccess presets,
                                         std::function<bool(const std::string&)> checkExpression)
    : QDialog(owner),
      params_(params),
      presets_(std::move(presets)),
      checkExpression_(std::move(checkExpression)) {
  setObjectName("MarkLinkProperties");
  // F1: the markers' help page.
  setProperty("helpContext", kMarkersHelpContext);
  setWindowTitle(Ru("Свойства связного маркера"));

  auto line = [this](const char* name, const std::string& text) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    edit->setText(Qs(text));
    return edit;
  };
  name_ = line("EditName", params.description);
  expression_ = line("EditExpression", std::string());
  SetExpression(Qs(params.expression));
  print_ = line("EditPrint", params.print);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(Ru("Название"), this), 0, 0);
  fields->addWidget(name_, 0, 1);
  fields->addWidget(new QLabel(Ru("Выражение"), this), 1, 0);
  fields->addWidget(expression_, 1, 1);
  fields->addWidget(new QLabel(Ru("Печать"), this), 2, 0);
  fields->addWidget(print_, 2, 1);
  // The value's tolerance for the display's verdict: an empty side has no
  // bound.
  limitsOn_ = new QCheckBox(Ru("Допуск"), this);
  limitsOn_->setObjectName("CheckLimits");
  limitsOn_->setChecked(params.limits.enabled);
  limitMin_ = line("EditLimitMin", BoundText(params.limits.hasMin, params.limits.min));
  limitMax_ = line("EditLimitMax", BoundText(params.limits.hasMax, params.limits.max));
  auto* limitRow = new QHBoxLayout;
  limitRow->addWidget(new QLabel(Ru("от"), this));
  limitRow->addWidget(limitMin_, 1);
  limitRow->addWidget(new QLabel(Ru("до"), this));
  limitRow->addWidget(limitMax_, 1);
  fields->addWidget(limitsOn_, 3, 0);
  fields->addLayout(limitRow, 3, 1);
  fields->setColumnStretch(1, 1);

  auto* help = new QLabel(Ru("Переменные: а.арг, б.арг — аргументы маркеров А и Б; "
                             "а.<название трассы>, б.<название трассы> — значения трасс у маркеров А и Б; "
                             "м<номер>.арг — аргумент маркера с этим номером. "
                             "Печать: %зн, %мин, %макс, %ср, %ско, %выб."),
                          this);
  help->setObjectName("LabelHelp");
  help->setWordWrap(true);

  list_ = new QTreeWidget(this);
  list_->setObjectName("PresetList");
  list_->setColumnCount(3);
  list_->setHeaderLabels({Ru("Описание"), Ru("Выражение"), Ru("Печать")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setMinimumSize(420, 160);

  add_ = new QPushButton(Ru("Добавить"), this);
  add_->setObjectName("ButtonAdd");
  add_->setToolTip(Ru("Добавить текущие параметры связи в список"));
  remove_ = new QPushButton(Ru("Удалить"), this);
  remove_->setObjectName("ButtonRemove");
  remove_->setToolTip(Ru("Удалить выделенную запись из списка"));
  auto* listButtons = new QVBoxLayout;
  listButtons->addWidget(add_);
  listButtons->addWidget(remove_);
  listButtons->addStretch(1);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(list_, 1);
  listRow->addLayout(listButtons);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("ButtonOK");
  ok->setDefault(true);
  auto* cancel = new QPushButton(Ru("Отмена"), this);
  cancel->setObjectName("ButtonCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* column = new QVBoxLayout(this);
  column->addLayout(fields);
  column->addWidget(help);
  column->addLayout(listRow, 1);
  column->addLayout(buttons);

  connect(add_, &QPushButton::clicked, this, &TMarkLinkProperties::OnAdd);
  connect(remove_, &QPushButton::clicked, this, &TMarkLinkProperties::OnRemove);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &TMarkLinkProperties::OnPresetActivated);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &TMarkLinkProperties::UpdateButtons);
  connect(ok, &QPushButton::clicked, this, &TMarkLinkProperties::OnOk);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  Reload();
}

void TMarkLinkProperties::SetExpression(const QString& text) {
  expression_->setMaxLength(std::max<int>(kExpressionLength, text.size()));
  expression_->setText(text);
}

void TMarkLinkProperties::Reload(const QString& select) {
  list_->clear();
  if (presets_.load) {
    for (const SRelationPreset& p : presets_.load()) {
      auto* item = new QTreeWidgetItem(list_, {Qs(p.description), Qs(p.expression), Qs(p.print)});
      item->setData(0, kDescriptionRole, QByteArray::fromStdString(p.description));
      if (!select.isNull() && item->text(0) == select) list_->setCurrentItem(item);
    }
  }
  UpdateButtons();
}

void TMarkLinkProperties::UpdateButtons() {
  add_->setEnabled(static_cast<bool>(presets_.add));
  remove_->setEnabled(presets_.remove && !list_->selectedItems().isEmpty());
}

void TMarkLinkProperties::OnAdd() {
  if (!presets_.add) return;
  const SRelationPreset preset{name_->text().toStdString(), expression_->text().toStdString(),
                               print_->text().toStdString()};
  const bool added = presets_.add(preset);
  Reload(name_->text());
  if (!added) Error("Не удалось добавить запись в список");
}

void TMarkLinkProperties::OnRemove() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (!presets_.remove || selected.isEmpty()) return;
  const std::string description = selected.first()->data(0, kDescriptionRole).toByteArray().toStdString();
  const bool removed = presets_.remove(description);
  Reload();
  if (!removed) Error("Не удалось удалить запись из списка");
}

void TMarkLinkProperties::OnPresetActivated(QTreeWidgetItem* item) {
  if (!item) return;
  name_->setText(item->text(0));
  SetExpression(item->text(1));
  print_->setText(item->text(2));
}

bool TMarkLinkProperties::ReadLimits(TValueLimits& limits) const {
  return ParseTolerance(limitsOn_->isChecked(), limitMin_->text().toStdString(), limitMax_->text().toStdString(),
                        limits);
}

void TMarkLinkProperties::OnOk() {
  if (checkExpression_ && !checkExpression_(expression_->text().toStdString())) {
    Error("Ошибка при синтаксическом разборе выражения");
    expression_->setFocus();
    return;
  }
  TValueLimits limits;
  if (!ReadLimits(limits)) {
    Error("Допуск: границы должны быть числами, нижняя не больше верхней");
    limitMin_->setFocus();
    return;
  }
  accept();
}

SLinkParams TMarkLinkProperties::Params() const {
  // A text the operator has not changed is given back byte for byte (one
  // that came in another encoding would not survive the trip through the
  // edit).
  auto text = [](const QLineEdit* edit, const std::string& original) {
    return edit->text() == Qs(original) ? original : edit->text().toStdString();
  };
  SLinkParams p = params_;
  p.description = text(name_, params_.description);
  p.expression = text(expression_, params_.expression);
  p.print = text(print_, params_.print);
  if (!ReadLimits(p.limits)) p.limits = params_.limits;
  return p;
}

KORCHART_VARIANT_END
}  // namespace korchart
