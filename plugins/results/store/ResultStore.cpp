#include "ResultStore.h"

#include "ResultSchema.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTimeZone>
#include <QUuid>
#include <QVariant>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

namespace vkresults {

using schema::TDialect;

namespace {

// Many benches' processes may write one SQLite file at once; a writer waits
// this long for another's transaction before giving up.
constexpr int kSqliteBusyTimeoutMs = 15000;
// Serialises the creation and upgrade of a PostgreSQL database among the
// benches of a line that start at the same time.
constexpr qlonglong kSchemaLockKey = 0x566b5265;  // "VkRe"

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QVariant& v) { return v.toString().toStdString(); }

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// A number the engines keep as it is; NaN and infinities are kept as "no
// value" (SQLite turns NaN into NULL anyway).
QVariant Number(double v) { return std::isfinite(v) ? QVariant(v) : QVariant(QMetaType::fromType<double>()); }

QDateTime ParseUtc(const std::string& s) {
  QDateTime t = QDateTime::fromString(Q(s), Qt::ISODateWithMs);
  return t.toUTC();
}

std::string FormatUtc(const QDateTime& t) {
  return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toStdString() + "Z";
}

}  // namespace

std::string TStoreConfig::DefaultSqliteFile() {
  // The user's own data folder, as the platform's other folders are found
  // ($XDG_DATA_HOME, usually ~/.local/share).
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(base + QStringLiteral("/vektra/results.sqlite")).toStdString();
}

bool ReadDatabasePassword(const TStoreConfig& config, std::string* password, std::string* error) {
  password->clear();
  if (!config.passwordVariable.empty()) {
    if (const char* v = std::getenv(config.passwordVariable.c_str()); v && *v) {
      *password = v;
      return true;
    }
  }
  if (config.passwordFile.empty()) return true;  // libpq's ~/.pgpass, if any
  struct stat st {};
  if (::stat(config.passwordFile.c_str(), &st) != 0) {
    *error = "Файл пароля базы данных " + config.passwordFile + " не найден";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "Файл пароля базы данных " + config.passwordFile + " не является обычным файлом";
    return false;
  }
  if (st.st_mode & (S_IRWXG | S_IRWXO)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    *error = "Файл пароля базы данных " + config.passwordFile + " доступен группе или другим пользователям (права " +
             mode + "); пароль не прочитан. Оставьте доступ только владельцу: chmod 600 " + config.passwordFile;
    return false;
  }
  std::ifstream in(config.passwordFile);
  std::string line;
  if (!in || !std::getline(in, line)) {
    *error = "Не удалось прочитать файл пароля базы данных " + config.passwordFile;
    return false;
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  *password = line;
  return true;
}

bool CheckResult(const TResult& r, std::string* error) {
  if (r.id.empty() || r.id.size() > 200) {
    *error = "Результат без идентификатора (или с идентификатором длиннее 200 знаков) не принят";
    return false;
  }
  bool nul = HasNul(r.id) || HasNul(r.serial) || HasNul(r.operatorName) || HasNul(r.bench) || HasNul(r.scheme) ||
             HasNul(r.report);
  for (const auto& l : r.limits) nul = nul || HasNul(l.name);
  for (const auto& x : r.readings) nul = nul || HasNul(x.name) || HasNul(x.unit);
  if (nul) {
    *error = "Результат " + r.id + " содержит нулевой символ в тексте и не принят";
    return false;
  }
  if (!r.timeUtc.empty() && NormalizeUtc(r.timeUtc).empty()) {
    *error = "Результат " + r.id + ": время \"" + r.timeUtc + "\" не в формате ISO 8601; не принят";
    return false;
  }
  return true;
}

struct TSqlResultStore::TImpl {
  TDialect dialect = TDialect::Sqlite;
  QString name = QStringLiteral("vkresults-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
  QSqlDatabase db;
  std::string where;  // the file or server, for messages

  ~TImpl() {
    if (db.isValid()) db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
  }

  bool Exec(const std::string& sql, std::string* error) {
    QSqlQuery q(db);
    if (q.exec(Q(sql))) return true;
    *error = q.lastError().text().toStdString();
    return false;
  }
  bool Begin(std::string* error) {
    return Exec(dialect == TDialect::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN", error);
  }
  bool Commit(std::string* error) { return Exec("COMMIT", error); }
  void Rollback() {
    std::string ignored;
    Exec("ROLLBACK", &ignored);
  }

  bool TableExists(const char* table, bool* exists, std::string* error) {
    QSqlQuery q(db);
    q.prepare(dialect == TDialect::Sqlite
                  ? QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?")
                  : QStringLiteral("SELECT 1 FROM information_schema.tables"
                                   " WHERE table_schema = current_schema() AND table_name = ?"));
    q.addBindValue(QString::fromLatin1(table));
    if (!q.exec()) {
      *error = q.lastError().text().toStdString();
      return false;
    }
    *exists = q.next();
    return true;
  }

  // Creates the tables of a new database, or brings an older one up to the
  // current version, in one transaction.
  bool Prepare(std::string* error) {
    std::string e;
    if (!Begin(&e)) {
      *error = "Не удалось начать подготовку базы результатов " + where + ": " + e;
      return false;
    }
    auto fail = [&](const std::string& text) {
      Rollback();
      *error = text;
      return false;
    };
    if (dialect == TDialect::Postgres) {
      QSqlQuery lock(db);
      if (!lock.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey)))
        return fail("Не удалось подготовить базу результатов " + where + ": " + lock.lastError().text().toStdString());
    }
    bool hasVersion = false, hasResults = false;
    if (!TableExists("schema_version", &hasVersion, &e) || !TableExists("results", &hasResults, &e))
      return fail("Не удалось прочитать структуру базы результатов " + where + ": " + e);
    if (!hasVersion) {
      if (hasResults)
        return fail("База " + where + " содержит таблицу results неизвестной структуры (нет schema_version); "
                    "она не изменена");
      for (const std::string& st : schema::CreateCurrent(dialect)) {
        if (!Exec(st, &e)) return fail("Не удалось создать таблицы базы результатов " + where + ": " + e);
      }
      return Commit(&e) || fail("Не удалось создать базу результатов " + where + ": " + e);
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT version FROM schema_version")) || !q.next())
      return fail("В базе результатов " + where + " нет номера версии схемы; база не изменена");
    int version = q.value(0).toInt();
    q.finish();
    if (version > schema::kCurrentVersion)
      return fail("База результатов " + where + " имеет версию схемы " + std::to_string(version) +
                  ", а эта программа знает версии до " + std::to_string(schema::kCurrentVersion) +
                  "; нужна более новая версия программы. База не изменена");
    if (version < 1) return fail("База результатов " + where + " имеет неверную версию схемы " + std::to_string(version));
    for (; version < schema::kCurrentVersion; ++version) {
      for (const std::string& st : schema::UpgradeStep(dialect, version)) {
        if (!Exec(st, &e))
          return fail("Не удалось обновить базу результатов " + where + " с версии " + std::to_string(version) +
                      ": " + e + "; база не изменена");
      }
    }
    return Commit(&e) || fail("Не удалось обновить базу результатов " + where + ": " + e);
  }

  // The unit's limits and readings for the rows read (seq -> index).
  bool LoadChildren(std::vector<TResult>& out, const std::vector<qlonglong>& seqs, std::string* error) {
    std::map<qlonglong, size_t> index;
    for (size_t i = 0; i < seqs.size(); ++i) index[seqs[i]] = i;
    constexpr size_t kChunk = 400;
    for (size_t from = 0; from < seqs.size(); from += kChunk) {
      QString list;
      for (size_t i = from; i < std::min(seqs.size(), from + kChunk); ++i) {
        if (!list.isEmpty()) list += QLatin1Char(',');
        list += QString::number(seqs[i]);
      }
      QSqlQuery q(db);
      q.setForwardOnly(true);
      if (!q.exec(QStringLiteral("SELECT result_seq, name, pass, worst_margin, argument FROM result_limits"
                                 " WHERE result_seq IN (%1) ORDER BY result_seq, pos").arg(list))) {
        *error = q.lastError().text().toStdString();
        return false;
      }
      while (q.next()) {
        TLimitOutcome l;
        l.name = S(q.value(1));
        l.pass = q.value(2).toInt() != 0;
        l.worstMargin = q.value(3).toDouble();
        l.argument = q.value(4).toDouble();
        out[index[q.value(0).toLongLong()]].limits.push_back(std::move(l));
      }
      QSqlQuery r(db);
      r.setForwardOnly(true);
      if (!r.exec(QStringLiteral("SELECT result_seq, name, value, unit FROM result_readings"
                                 " WHERE result_seq IN (%1) ORDER BY result_seq, pos").arg(list))) {
        *error = r.lastError().text().toStdString();
        return false;
      }
      while (r.next()) {
        TReading x;
        x.name = S(r.value(1));
        x.hasValue = !r.value(2).isNull();
        x.value = x.hasValue ? r.value(2).toDouble() : 0;
        x.unit = S(r.value(3));
        out[index[r.value(0).toLongLong()]].readings.push_back(std::move(x));
      }
    }
    return true;
  }

  // Results of a query whose columns start with kResultColumns.
  bool ReadResults(QSqlQuery& q, std::vector<TResult>& out, std::string* error) {
    q.setForwardOnly(true);
    if (!q.exec()) {
      *error = q.lastError().text().toStdString();
      return false;
    }
    std::vector<qlonglong> seqs;
    while (q.next()) {
      TResult r;
      seqs.push_back(q.value(0).toLongLong());
      r.id = S(q.value(1));
      r.serial = S(q.value(2));
      r.operatorName = S(q.value(3));
      r.bench = S(q.value(4));
      r.scheme = S(q.value(5));
      r.timeUtc = S(q.value(6));
      r.pass = q.value(7).toInt() != 0;
      r.seconds = q.value(8).toDouble();
      r.report = S(q.value(9));
      out.push_back(std::move(r));
    }
    q.finish();
    return LoadChildren(out, seqs, error);
  }

  QString SerialMatch() const {
    return dialect == TDialect::Sqlite ? QStringLiteral("instr(lower(serial), lower(?)) > 0")
                                       : QStringLiteral("strpos(lower(serial), lower(?)) > 0");
  }
};

static const char kResultColumns[] = "seq, id, serial, operator, bench, scheme, time_utc, pass, seconds, report";

TSqlResultStore::TSqlResultStore(std::unique_ptr<TImpl> impl) : impl_(std::move(impl)) {}
TSqlResultStore::~TSqlResultStore() = default;

std::unique_ptr<TSqlResultStore> TSqlResultStore::OpenSqlite(const std::string& file, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
    *error = "Драйвер SQLite (QSQLITE) не установлен";
    return nullptr;
  }
  auto impl = std::make_unique<TImpl>();
  impl->dialect = TDialect::Sqlite;
  impl->where = file;
  const QString path = Q(file);
  QDir().mkpath(QFileInfo(path).absolutePath());
  impl->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), impl->name);
  impl->db.setDatabaseName(path);
  impl->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyTimeoutMs));
  if (!impl->db.open()) {
    *error = "Не удалось открыть базу результатов " + file + ": " + impl->db.lastError().text().toStdString();
    return nullptr;
  }
  std::string e;
  // The write-ahead log lets the window read while the writer writes and
  // several processes take turns writing. synchronous=FULL: every commit
  // is on the disk before the writer reports "stored", so a result the
  // operator saw stored survives a power cut too, not only a crash; it
  // costs one sync a result, which is nothing beside the time a unit takes.
  QSqlQuery wal(impl->db);
  if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next()) {
    *error = "Не удалось включить журнал базы результатов " + file + ": " + wal.lastError().text().toStdString();
    return nullptr;
  }
  wal.finish();
  if (!impl->Exec("PRAGMA synchronous=FULL", &e) || !impl->Exec("PRAGMA foreign_keys=ON", &e)) {
    *error = "Не удалось настроить базу результатов " + file + ": " + e;
    return nullptr;
  }
  if (!impl->Prepare(error)) return nullptr;
  return std::unique_ptr<TSqlResultStore>(new TSqlResultStore(std::move(impl)));
}

std::unique_ptr<TSqlResultStore> TSqlResultStore::OpenPostgres(const TStoreConfig& config, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
    *error = "Драйвер PostgreSQL (QPSQL) не установлен (пакет libqt6sql6-psql)";
    return nullptr;
  }
  std::string password;
  if (!ReadDatabasePassword(config, &password, error)) return nullptr;
  auto impl = std::make_unique<TImpl>();
  impl->dialect = TDialect::Postgres;
  impl->where = config.database + "@" + (config.host.empty() ? std::string("localhost") : config.host) + ":" +
                std::to_string(config.port);
  impl->db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), impl->name);
  impl->db.setHostName(Q(config.host));
  impl->db.setPort(config.port);
  impl->db.setDatabaseName(Q(config.database));
  impl->db.setUserName(Q(config.user));
  impl->db.setPassword(Q(password));
  // A server that cannot be reached must never hold the bench up long.
  impl->db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=vektra")
                                 .arg(std::max(1, config.connectTimeoutSeconds)));
  if (!impl->db.open()) {
    *error = "Сервер базы данных недоступен: " + impl->where + ": " +
             impl->db.lastError().text().trimmed().toStdString();
    return nullptr;
  }
  std::string e;
  if (!impl->Exec("SET client_encoding TO 'UTF8'", &e)) {
    *error = "Сервер базы данных " + impl->where + " не принял кодировку UTF-8: " + e;
    return nullptr;
  }
  if (!impl->Prepare(error)) return nullptr;
  return std::unique_ptr<TSqlResultStore>(new TSqlResultStore(std::move(impl)));
}

std::unique_ptr<TSqlResultStore> TSqlResultStore::Open(const TStoreConfig& config, std::string* error) {
  return config.PostgresConfigured() ? OpenPostgres(config, error) : OpenSqlite(config.sqliteFile, error);
}

bool TSqlResultStore::Ping() {
  QSqlQuery q(impl_->db);
  return q.exec(QStringLiteral("SELECT 1")) && q.next();
}

bool TSqlResultStore::Store(const TResult& input) {
  lastError_.clear();
  TResult r = input;
  if (!CheckResult(r, &lastError_)) return false;
  if (r.timeUtc.empty()) {
    r.timeUtc = NowUtc();
  } else {
    r.timeUtc = NormalizeUtc(r.timeUtc);
  }
  std::string e;
  if (!impl_->Begin(&e)) {
    lastError_ = "Не удалось записать результат " + r.id + ": " + e;
    return false;
  }
  auto fail = [&](const QSqlQuery& q) {
    lastError_ = "Не удалось записать результат " + r.id + ": " + q.lastError().text().toStdString();
    impl_->Rollback();
    return false;
  };
  QSqlQuery q(impl_->db);
  q.prepare(QStringLiteral("INSERT INTO results (id, serial, operator, bench, scheme, time_utc, pass, seconds, report)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO NOTHING RETURNING seq"));
  for (const std::string* s : {&r.id, &r.serial, &r.operatorName, &r.bench, &r.scheme, &r.timeUtc})
    q.addBindValue(Q(*s));
  q.addBindValue(r.pass ? 1 : 0);
  q.addBindValue(std::isfinite(r.seconds) ? r.seconds : 0.0);
  q.addBindValue(Q(r.report));
  if (!q.exec()) return fail(q);
  if (q.next()) {  // a new row: its limits and readings go with it
    const qlonglong seq = q.value(0).toLongLong();
    q.finish();
    if (!r.limits.empty()) {
      QSqlQuery c(impl_->db);
      c.prepare(QStringLiteral("INSERT INTO result_limits (result_seq, pos, name, pass, worst_margin, argument)"
                               " VALUES (?, ?, ?, ?, ?, ?)"));
      for (size_t i = 0; i < r.limits.size(); ++i) {
        c.bindValue(0, seq);
        c.bindValue(1, static_cast<int>(i));
        c.bindValue(2, Q(r.limits[i].name));
        c.bindValue(3, r.limits[i].pass ? 1 : 0);
        c.bindValue(4, Number(r.limits[i].worstMargin));
        c.bindValue(5, Number(r.limits[i].argument));
        if (!c.exec()) return fail(c);
      }
    }
    if (!r.readings.empty()) {
      QSqlQuery c(impl_->db);
      c.prepare(QStringLiteral("INSERT INTO result_readings (result_seq, pos, name, value, unit) VALUES (?, ?, ?, ?, ?)"));
      for (size_t i = 0; i < r.readings.size(); ++i) {
        c.bindValue(0, seq);
        c.bindValue(1, static_cast<int>(i));
        c.bindValue(2, Q(r.readings[i].name));
        c.bindValue(3, r.readings[i].hasValue ? Number(r.readings[i].value) : Number(NAN));
        c.bindValue(4, Q(r.readings[i].unit));
        if (!c.exec()) return fail(c);
      }
    }
  } else {
    q.finish();
  }
  if (!impl_->Commit(&e)) {
    impl_->Rollback();
    lastError_ = "Не удалось записать результат " + r.id + ": " + e;
    return false;
  }
  return true;
}

std::vector<TResult> TSqlResultStore::Latest(int count, const std::string& serialPart, TVerdictFilter verdict) {
  lastError_.clear();
  std::vector<TResult> out;
  if (count <= 0) return out;
  QString sql = QStringLiteral("SELECT %1 FROM results WHERE 1 = 1").arg(QLatin1String(kResultColumns));
  if (!serialPart.empty()) sql += QStringLiteral(" AND ") + impl_->SerialMatch();
  if (verdict == TVerdictFilter::Pass) sql += QStringLiteral(" AND pass = 1");
  if (verdict == TVerdictFilter::Fail) sql += QStringLiteral(" AND pass = 0");
  sql += QStringLiteral(" ORDER BY time_utc DESC, seq DESC LIMIT ?");
  QSqlQuery q(impl_->db);
  q.prepare(sql);
  if (!serialPart.empty()) q.addBindValue(Q(serialPart));
  q.addBindValue(count);
  std::string e;
  if (!impl_->ReadResults(q, out, &e)) {
    lastError_ = "Не удалось прочитать результаты: " + e;
    out.clear();
  }
  return out;
}

std::optional<TResult> TSqlResultStore::LatestForSerial(const std::string& serial) {
  lastError_.clear();
  QSqlQuery q(impl_->db);
  q.prepare(QStringLiteral("SELECT %1 FROM results WHERE serial = ? ORDER BY time_utc DESC, seq DESC LIMIT 1")
                .arg(QLatin1String(kResultColumns)));
  q.addBindValue(Q(serial));
  std::vector<TResult> out;
  std::string e;
  if (!impl_->ReadResults(q, out, &e)) {
    lastError_ = "Не удалось прочитать результат изделия " + serial + ": " + e;
    return std::nullopt;
  }
  if (out.empty()) return std::nullopt;
  return std::move(out.front());
}

TCounts TSqlResultStore::Counts(const std::string& sinceUtc) {
  lastError_.clear();
  TCounts c;
  std::string since;
  if (!sinceUtc.empty()) {
    since = NormalizeUtc(sinceUtc);
    if (since.empty()) {
      lastError_ = "Время \"" + sinceUtc + "\" не в формате ISO 8601";
      return c;
    }
  }
  QSqlQuery q(impl_->db);
  q.prepare(QStringLiteral("SELECT COUNT(*), COALESCE(SUM(pass), 0) FROM results") +
            (since.empty() ? QString() : QStringLiteral(" WHERE time_utc >= ?")));
  if (!since.empty()) q.addBindValue(Q(since));
  if (!q.exec() || !q.next()) {
    lastError_ = "Не удалось посчитать результаты: " + q.lastError().text().toStdString();
    return c;
  }
  c.total = q.value(0).toLongLong();
  c.passed = q.value(1).toLongLong();
  c.failed = c.total - c.passed;
  return c;
}

namespace {

// Buckets of `count` hours (keyLength 13, "2026-12-08T10") or days
// (keyLength 10) up to now, oldest first.
std::vector<TYieldBucket> Buckets(QSqlDatabase& db, int count, const std::string& nowUtc, int keyLength,
                                  std::string* error) {
  std::vector<TYieldBucket> out;
  if (count <= 0) return out;
  QDateTime now = nowUtc.empty() ? QDateTime::currentDateTimeUtc() : ParseUtc(NormalizeUtc(nowUtc));
  if (!now.isValid()) {
    *error = "Время \"" + nowUtc + "\" не в формате ISO 8601";
    return out;
  }
  QDateTime last;
  if (keyLength == 13)
    last = QDateTime(now.date(), QTime(now.time().hour(), 0), QTimeZone::utc());
  else
    last = QDateTime(now.date(), QTime(0, 0), QTimeZone::utc());
  auto step = [&](const QDateTime& t, int n) { return keyLength == 13 ? t.addSecs(3600LL * n) : t.addDays(n); };
  const QDateTime first = step(last, -(count - 1));
  std::map<std::string, size_t> index;
  for (int i = 0; i < count; ++i) {
    TYieldBucket b;
    b.startUtc = FormatUtc(step(first, i));
    index[b.startUtc.substr(0, keyLength)] = out.size();
    out.push_back(b);
  }
  QSqlQuery q(db);
  q.prepare(QStringLiteral("SELECT substr(time_utc, 1, %1) AS b, COUNT(*), COALESCE(SUM(pass), 0) FROM results"
                           " WHERE time_utc >= ? AND time_utc < ? GROUP BY substr(time_utc, 1, %1)")
                .arg(keyLength));
  q.addBindValue(Q(FormatUtc(first)));
  q.addBindValue(Q(FormatUtc(step(last, 1))));
  if (!q.exec()) {
    *error = q.lastError().text().toStdString();
    out.clear();
    return out;
  }
  while (q.next()) {
    auto it = index.find(S(q.value(0)));
    if (it == index.end()) continue;
    out[it->second].total = q.value(1).toLongLong();
    out[it->second].passed = q.value(2).toLongLong();
  }
  return out;
}

}  // namespace

std::vector<TYieldBucket> TSqlResultStore::YieldPerHour(int count, const std::string& nowUtc) {
  lastError_.clear();
  std::string e;
  auto out = Buckets(impl_->db, count, nowUtc, 13, &e);
  if (!e.empty()) lastError_ = "Не удалось посчитать выход годных по часам: " + e;
  return out;
}

std::vector<TYieldBucket> TSqlResultStore::YieldPerDay(int count, const std::string& nowUtc) {
  lastError_.clear();
  std::string e;
  auto out = Buckets(impl_->db, count, nowUtc, 10, &e);
  if (!e.empty()) lastError_ = "Не удалось посчитать выход годных по дням: " + e;
  return out;
}

std::vector<double> TSqlResultStore::ReadingValues(const std::string& name, int count) {
  lastError_.clear();
  std::vector<double> out;
  if (count <= 0) return out;
  QSqlQuery q(impl_->db);
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT x.value FROM result_readings x JOIN results r ON r.seq = x.result_seq"
                           " WHERE x.name = ? AND x.value IS NOT NULL ORDER BY r.time_utc DESC, r.seq DESC LIMIT ?"));
  q.addBindValue(Q(name));
  q.addBindValue(count);
  if (!q.exec()) {
    lastError_ = "Не удалось прочитать значения " + name + ": " + q.lastError().text().toStdString();
    return out;
  }
  while (q.next()) out.push_back(q.value(0).toDouble());
  return out;
}

std::vector<std::string> TSqlResultStore::ReadingNames() {
  lastError_.clear();
  std::vector<std::string> out;
  QSqlQuery q(impl_->db);
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT DISTINCT name FROM result_readings ORDER BY name"))) {
    lastError_ = "Не удалось прочитать имена измерений: " + q.lastError().text().toStdString();
    return out;
  }
  while (q.next()) out.push_back(S(q.value(0)));
  return out;
}

std::vector<TResult> TSqlResultStore::Unsent(int count) {
  lastError_.clear();
  std::vector<TResult> out;
  QSqlQuery q(impl_->db);
  q.prepare(QStringLiteral("SELECT %1 FROM results WHERE sent = 0 ORDER BY seq LIMIT ?").arg(QLatin1String(kResultColumns)));
  q.addBindValue(count);
  std::string e;
  if (!impl_->ReadResults(q, out, &e)) {
    lastError_ = "Не удалось прочитать неотправленные результаты: " + e;
    out.clear();
  }
  return out;
}

bool TSqlResultStore::MarkSent(const std::string& id) {
  lastError_.clear();
  QSqlQuery q(impl_->db);
  q.prepare(QStringLiteral("UPDATE results SET sent = 1 WHERE id = ?"));
  q.addBindValue(Q(id));
  if (q.exec()) return true;
  lastError_ = "Не удалось отметить результат " + id + " как отправленный: " + q.lastError().text().toStdString();
  return false;
}

int64_t TSqlResultStore::UnsentCount() {
  lastError_.clear();
  QSqlQuery q(impl_->db);
  if (q.exec(QStringLiteral("SELECT COUNT(*) FROM results WHERE sent = 0")) && q.next())
    return q.value(0).toLongLong();
  lastError_ = "Не удалось посчитать неотправленные результаты: " + q.lastError().text().toStdString();
  return -1;
}

}  // namespace vkresults
