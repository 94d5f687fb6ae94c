#pragma once
// The layout of the results database, version by version.
//
// Version 1 (the first benches): results without the unit's duration and
// without the report's file name, readings without units, no "sent" mark
// (there was no line server then).
// Version 2 (current): results gain `seconds`, `report` and `sent` (0 until
// the line's server has the result; only the bench's own SQLite file uses
// it), readings gain `unit`.
//
// Every database has a table schema_version with one row. A store opening a
// database of an older version upgrades it step by step in one transaction;
// a database of a newer version is refused and left untouched.
#include "Result.h"

#include <string>
#include <vector>

namespace vkresults::schema {

enum class TDialect { Sqlite, Postgres };

constexpr int kCurrentVersion = 2;

// The statements that create an empty database of version 1 (the upgrade's
// starting point) and of the current version.
std::vector<std::string> CreateVersion1(TDialect dialect);
std::vector<std::string> CreateCurrent(TDialect dialect);
// The statements that take a database from `fromVersion` to fromVersion+1;
// empty when there is no such step.
std::vector<std::string> UpgradeStep(TDialect dialect, int fromVersion);

// Tools for checking upgrades (and for moving old files around): a SQLite
// file written in the version 1 layout with the given results (fields that
// version lacked are dropped), and a file's version stamp set to `version`.
bool WriteVersion1Database(const std::string& sqliteFile, const std::vector<TResult>& results,
                           std::string* error);
bool StampSchemaVersion(const std::string& sqliteFile, int version, std::string* error);

}  // namespace vkresults::schema
