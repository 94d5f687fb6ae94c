#include "Result.h"

#include <QDateTime>
#include <QTimeZone>
#include <QUuid>

namespace vkresults {

std::string NewResultId() {
  return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

static std::string Format(const QDateTime& t) {
  return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toStdString() + "Z";
}

std::string NowUtc() { return Format(QDateTime::currentDateTimeUtc()); }

std::string NormalizeUtc(const std::string& isoTime) {
  const QString text = QString::fromStdString(isoTime).trimmed();
  if (text.isEmpty()) return std::string();
  QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
  if (!t.isValid()) return std::string();
  // A time written without a zone is taken as UTC, never as local time.
  if (t.timeSpec() == Qt::LocalTime) t.setTimeZone(QTimeZone::utc());
  if (t.date().year() < 1 || t.date().year() > 9999) return std::string();
  return Format(t);
}

}  // namespace vkresults
