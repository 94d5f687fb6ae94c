#pragma once
// Menu items of the diagram that are more than a caption: an item that
// edits a value in place, and a submenu of radio items.
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QMenu;
class QWidgetAction;

namespace plotdesk {

// A caption and a line edit `width` pixels wide holding `text`; Enter hands
// the text over and closes the menu (and the menus it is a submenu of). The
// edit is named `name` + "Edit".
QWidgetAction* AddEditItem(QMenu* menu, const QString& name, const QString& caption, const QString& text, int width,
                           std::function<void(const QString&)> entered);
// A submenu `caption` of radio items, `checked` checked; choosing one hands
// over its index.
QMenu* AddRadioMenu(QMenu* menu, const QString& name, const QString& caption, const QStringList& items, int checked,
                    std::function<void(int)> chosen);
// The number a text holds (a comma serves as the decimal point); nothing
// for a text that is no finite number.
std::optional<double> ParseNumber(const QString& text);

}  // namespace plotdesk
