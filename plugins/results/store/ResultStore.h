#pragma once
// The results store: results of the units tested on the benches, kept in
// SQLite (one bench: the bench's own file) or in PostgreSQL (a line of
// benches sharing one server). Only this layer writes SQL.
//
// A store object holds one database connection and must be used only in the
// thread that opened it; every thread that reads or writes opens its own.
#include "Result.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vkresults {

struct TStoreConfig {
  // The bench's own database (and the outbox of a line's bench).
  std::string sqliteFile = DefaultSqliteFile();
  // The line's PostgreSQL server; configured when host or database is set.
  std::string host;
  int port = 5432;
  std::string database;
  std::string user;
  // The password never comes from the scheme: it is read from the
  // environment variable, else from passwordFile (refused when its group or
  // others may read it), else libpq's own ~/.pgpass applies.
  std::string passwordFile;
  std::string passwordVariable = "VEKTRA_DB_PASSWORD";
  int connectTimeoutSeconds = 3;

  bool PostgresConfigured() const { return !host.empty() || !database.empty(); }
  // <user's data folder>/vektra/results.sqlite
  static std::string DefaultSqliteFile();
};

enum class TVerdictFilter { All, Pass, Fail };

struct TCounts {
  int64_t total = 0;
  int64_t passed = 0;
  int64_t failed = 0;
};

// One hour or one day of the yield chart.
struct TYieldBucket {
  std::string startUtc;  // the bucket's first moment, "2026-12-08T10:00:00.000Z"
  int64_t total = 0;
  int64_t passed = 0;
};

class IResultStore {
 public:
  virtual ~IResultStore() = default;

  // Stores one result in one transaction. Storing an id that is already
  // there keeps the row that is there and succeeds. A result with an empty
  // id, a time that is not ISO 8601 or text with NUL characters is refused.
  virtual bool Store(const TResult& result) = 0;

  // The latest `count` results, newest first; serialPart matches anywhere in
  // the serial, ignoring ASCII case ("" matches all).
  virtual std::vector<TResult> Latest(int count, const std::string& serialPart = "",
                                      TVerdictFilter verdict = TVerdictFilter::All) = 0;
  virtual std::optional<TResult> LatestForSerial(const std::string& serial) = 0;
  // Counts of results at or after sinceUtc ("" for all).
  virtual TCounts Counts(const std::string& sinceUtc = "") = 0;
  // The last `count` hours or days up to nowUtc ("" for now), oldest first,
  // every bucket present even when empty.
  virtual std::vector<TYieldBucket> YieldPerHour(int count, const std::string& nowUtc = "") = 0;
  virtual std::vector<TYieldBucket> YieldPerDay(int count, const std::string& nowUtc = "") = 0;
  // The values of one reading in the latest `count` results that have it,
  // newest first (readings without a value are left out).
  virtual std::vector<double> ReadingValues(const std::string& name, int count) = 0;
  // The names of every reading stored, sorted.
  virtual std::vector<std::string> ReadingNames() = 0;

  // What went wrong in the last call (Russian, for the window); "" after a
  // call that succeeded.
  virtual std::string LastError() const = 0;
};

// The SQL implementation; the same class serves both engines.
class TSqlResultStore final : public IResultStore {
 public:
  // Opens (creating or upgrading it as needed) the bench's SQLite file or
  // the line's PostgreSQL database. Returns null with *error set when the
  // database cannot be opened, is of a newer version than this program
  // knows, or the password file is unsafe.
  static std::unique_ptr<TSqlResultStore> OpenSqlite(const std::string& file, std::string* error);
  static std::unique_ptr<TSqlResultStore> OpenPostgres(const TStoreConfig& config, std::string* error);
  // PostgreSQL when it is configured, the SQLite file otherwise.
  static std::unique_ptr<TSqlResultStore> Open(const TStoreConfig& config, std::string* error);

  ~TSqlResultStore() override;

  bool Store(const TResult& result) override;
  std::vector<TResult> Latest(int count, const std::string& serialPart = "",
                              TVerdictFilter verdict = TVerdictFilter::All) override;
  std::optional<TResult> LatestForSerial(const std::string& serial) override;
  TCounts Counts(const std::string& sinceUtc = "") override;
  std::vector<TYieldBucket> YieldPerHour(int count, const std::string& nowUtc = "") override;
  std::vector<TYieldBucket> YieldPerDay(int count, const std::string& nowUtc = "") override;
  std::vector<double> ReadingValues(const std::string& name, int count) override;
  std::vector<std::string> ReadingNames() override;
  std::string LastError() const override { return lastError_; }

  // The outbox of a bench on a line (SQLite only): results the line's
  // server does not have yet, oldest first, and the mark once it has them.
  std::vector<TResult> Unsent(int count);
  bool MarkSent(const std::string& id);
  int64_t UnsentCount();

  // Whether the database still answers (false once a server went away;
  // the caller then opens a new store).
  bool Ping();

 private:
  struct TImpl;
  explicit TSqlResultStore(std::unique_ptr<TImpl> impl);
  std::unique_ptr<TImpl> impl_;
  std::string lastError_;
};

// Whether a store would take the result: an id of at most 200 bytes, a time
// in ISO 8601 (or none: the store puts the current time), no NUL characters
// in the text. *error says what is wrong.
bool CheckResult(const TResult& result, std::string* error);

// Reads the PostgreSQL password as TStoreConfig describes. Returns false
// with *error set when the file cannot be read or is readable by others;
// *password is "" when neither source is given.
bool ReadDatabasePassword(const TStoreConfig& config, std::string* password, std::string* error);

}  // namespace vkresults
