#include "markers/MarkerTemplateDialog.h"

#include <QDir>

#include "GuiPlugin.h"
#include "VKPaths.h"
#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

std::string ChooseMarkerTemplate(QWidget* parent, bool save) {
  const QString dir = QString::fromStdString(GetVKDir(dirMarkers));
  QDir().mkpath(dir);
  const QString file = ChooseFileName(
      parent, {save ? QStringLiteral("Сохранить шаблон маркеров") : QStringLiteral("Открыть шаблон маркеров"),
               vkgui::QtFilter(QStringLiteral("Файлы шаблонов маркеров|*.mrk")), QStringLiteral("mrk"), dir, save});
  return file.toStdString();
}

void SayMarkerTemplateFailed(bool save) {
  vkplatform::MessageBox(save ? "Ошибка при сохранении файла" : "Ошибка при открытии файла", "Ошибка",
                         vkplatform::MsgIcon::Error);
}

KORCHART_VARIANT_END
}  // namespace korchart
