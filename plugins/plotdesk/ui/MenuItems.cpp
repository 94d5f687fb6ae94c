#include "ui/MenuItems.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QWidgetAction>

#include <algorithm>
#include <cmath>

namespace plotdesk {

QWidgetAction* AddEditItem(QMenu* menu, const QString& name, const QString& caption, const QString& text, int width,
                           std::function<void(const QString&)> entered) {
  auto* action = new QWidgetAction(menu);
  action->setObjectName(name);
  auto* box = new QWidget(menu);
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(24, 2, 6, 2);
  auto* label = new QLabel(caption, box);
  auto* edit = new QLineEdit(text, box);
  edit->setObjectName(name + QStringLiteral("Edit"));
  // Room for the text even where the caption's width is small.
  edit->setMinimumWidth(std::max(width, 48));
  label->setBuddy(edit);
  layout->addWidget(label);
  layout->addStretch();
  layout->addWidget(edit);
  action->setDefaultWidget(box);
  QObject::connect(edit, &QLineEdit::returnPressed, menu, [edit, menu, entered] {
    const QString value = edit->text();
    // The whole menu closes, from a submenu as well.
    for (QMenu* m = menu; m; m = qobject_cast<QMenu*>(m->parentWidget())) m->close();
    entered(value);
  });
  menu->addAction(action);
  return action;
}

QMenu* AddRadioMenu(QMenu* menu, const QString& name, const QString& caption, const QStringList& items, int checked,
                    std::function<void(int)> chosen) {
  QMenu* sub = menu->addMenu(caption);
  sub->setObjectName(name);
  auto* group = new QActionGroup(sub);
  for (int i = 0; i < items.size(); ++i) {
    QAction* a = sub->addAction(items[i]);
    a->setCheckable(true);
    a->setChecked(i == checked);
    group->addAction(a);
    QObject::connect(a, &QAction::triggered, menu, [chosen, i] { chosen(i); });
  }
  return sub;
}

std::optional<double> ParseNumber(const QString& text) {
  bool ok = false;
  const double v = QString(text).trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace plotdesk
