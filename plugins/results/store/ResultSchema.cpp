#include "ResultSchema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace vkresults::schema {
namespace {

// The key column differs between the engines; everything else is the same text.
std::string SeqColumn(TDialect d) {
  return d == TDialect::Sqlite ? "seq INTEGER PRIMARY KEY AUTOINCREMENT" : "seq BIGSERIAL PRIMARY KEY";
}
std::string SeqRef(TDialect d) { return d == TDialect::Sqlite ? "INTEGER" : "BIGINT"; }

// Kept as the first benches wrote it: this is where every upgrade starts.
std::vector<std::string> Version1Tables(TDialect d) {
  return {
      "CREATE TABLE schema_version (version INTEGER NOT NULL)",
      "CREATE TABLE results (" + SeqColumn(d) +
          ", id TEXT NOT NULL UNIQUE, serial TEXT NOT NULL, operator TEXT NOT NULL,"
          " bench TEXT NOT NULL, scheme TEXT NOT NULL, time_utc TEXT NOT NULL, pass INTEGER NOT NULL)",
      "CREATE TABLE result_limits (result_seq " + SeqRef(d) +
          " NOT NULL REFERENCES results(seq) ON DELETE CASCADE, pos INTEGER NOT NULL, name TEXT NOT NULL,"
          " pass INTEGER NOT NULL, worst_margin DOUBLE PRECISION, argument DOUBLE PRECISION,"
          " PRIMARY KEY (result_seq, pos))",
      "CREATE TABLE result_readings (result_seq " + SeqRef(d) +
          " NOT NULL REFERENCES results(seq) ON DELETE CASCADE, pos INTEGER NOT NULL, name TEXT NOT NULL,"
          " value DOUBLE PRECISION, PRIMARY KEY (result_seq, pos))",
      "CREATE INDEX results_time ON results (time_utc)",
      "CREATE INDEX results_serial ON results (serial)",
  };
}

std::vector<std::string> Upgrade1To2() {
  return {
      "ALTER TABLE results ADD COLUMN seconds DOUBLE PRECISION NOT NULL DEFAULT 0",
      "ALTER TABLE results ADD COLUMN report TEXT NOT NULL DEFAULT ''",
      "ALTER TABLE results ADD COLUMN sent INTEGER NOT NULL DEFAULT 0",
      "ALTER TABLE result_readings ADD COLUMN unit TEXT NOT NULL DEFAULT ''",
      "CREATE INDEX results_unsent ON results (seq) WHERE sent = 0",
      "CREATE INDEX readings_name ON result_readings (name)",
      "UPDATE schema_version SET version = 2",
  };
}

bool Exec(QSqlDatabase& db, const std::string& sql, std::string* error) {
  QSqlQuery q(db);
  if (q.exec(QString::fromStdString(sql))) return true;
  if (error) *error = q.lastError().text().toStdString();
  return false;
}

struct TFile {
  QString name = QStringLiteral("vkresults-tool-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
  QSqlDatabase db;
  ~TFile() {
    if (db.isValid()) db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
  }
  bool Open(const std::string& file, std::string* error) {
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(QString::fromStdString(file));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    if (db.open()) return true;
    if (error) *error = db.lastError().text().toStdString();
    return false;
  }
};

}  // namespace

std::vector<std::string> CreateVersion1(TDialect d) {
  std::vector<std::string> s = Version1Tables(d);
  s.push_back("INSERT INTO schema_version (version) VALUES (1)");
  return s;
}

std::vector<std::string> CreateCurrent(TDialect d) {
  // A new database is the first layout with every step applied, so that a
  // new database and an upgraded one cannot differ.
  std::vector<std::string> s = CreateVersion1(d);
  for (int v = 1; v < kCurrentVersion; ++v) {
    for (auto& st : UpgradeStep(d, v)) s.push_back(st);
  }
  return s;
}

std::vector<std::string> UpgradeStep(TDialect, int fromVersion) {
  if (fromVersion == 1) return Upgrade1To2();
  return {};
}

bool WriteVersion1Database(const std::string& sqliteFile, const std::vector<TResult>& results,
                           std::string* error) {
  TFile f;
  if (!f.Open(sqliteFile, error)) return false;
  if (!Exec(f.db, "BEGIN IMMEDIATE", error)) return false;
  for (const auto& st : CreateVersion1(TDialect::Sqlite)) {
    if (!Exec(f.db, st, error)) return false;
  }
  for (const TResult& r : results) {
    QSqlQuery q(f.db);
    q.prepare(QStringLiteral("INSERT INTO results (id, serial, operator, bench, scheme, time_utc, pass)"
                             " VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING seq"));
    for (const std::string* s : {&r.id, &r.serial, &r.operatorName, &r.bench, &r.scheme, &r.timeUtc})
      q.addBindValue(QString::fromStdString(*s));
    q.addBindValue(r.pass ? 1 : 0);
    if (!q.exec() || !q.next()) {
      if (error) *error = q.lastError().text().toStdString();
      return false;
    }
    const qlonglong seq = q.value(0).toLongLong();
    q.finish();
    for (size_t i = 0; i < r.limits.size(); ++i) {
      QSqlQuery c(f.db);
      c.prepare(QStringLiteral("INSERT INTO result_limits (result_seq, pos, name, pass, worst_margin, argument)"
                               " VALUES (?, ?, ?, ?, ?, ?)"));
      c.addBindValue(seq);
      c.addBindValue(static_cast<int>(i));
      c.addBindValue(QString::fromStdString(r.limits[i].name));
      c.addBindValue(r.limits[i].pass ? 1 : 0);
      c.addBindValue(r.limits[i].worstMargin);
      c.addBindValue(r.limits[i].argument);
      if (!c.exec()) {
        if (error) *error = c.lastError().text().toStdString();
        return false;
      }
    }
    for (size_t i = 0; i < r.readings.size(); ++i) {
      QSqlQuery c(f.db);
      c.prepare(QStringLiteral("INSERT INTO result_readings (result_seq, pos, name, value) VALUES (?, ?, ?, ?)"));
      c.addBindValue(seq);
      c.addBindValue(static_cast<int>(i));
      c.addBindValue(QString::fromStdString(r.readings[i].name));
      c.addBindValue(r.readings[i].hasValue ? QVariant(r.readings[i].value) : QVariant());
      if (!c.exec()) {
        if (error) *error = c.lastError().text().toStdString();
        return false;
      }
    }
  }
  return Exec(f.db, "COMMIT", error);
}

bool StampSchemaVersion(const std::string& sqliteFile, int version, std::string* error) {
  TFile f;
  if (!f.Open(sqliteFile, error)) return false;
  return Exec(f.db, "UPDATE schema_version SET version = " + std::to_string(version), error);
}

}  // namespace vkresults::schema
