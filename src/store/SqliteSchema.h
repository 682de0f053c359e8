#pragma once

// The file layout the monitor reads; any SQLite client can read it too.
namespace store::schema {

inline constexpr int kUserVersion = 1;

inline constexpr char kCreate[] = R"sql(
CREATE TABLE keys (
  id     INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
  name   TEXT NOT NULL,
  fold   TEXT NOT NULL,
  UNIQUE (parent, fold)
);
CREATE TABLE vals (
  key    INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name   TEXT NOT NULL,
  fold   TEXT NOT NULL,
  type   INTEGER NOT NULL,
  data   BLOB NOT NULL,
  seq    INTEGER NOT NULL,
  PRIMARY KEY (key, fold)
);
CREATE INDEX vals_by_seq ON vals(key, seq);
INSERT INTO keys(parent, name, fold) VALUES (NULL, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');
PRAGMA user_version = 1;
)sql";

// A file is ours when both tables answer with every column we use.
inline constexpr char kProbeKeys[] = "SELECT id, parent, name, fold FROM keys LIMIT 0";
inline constexpr char kProbeVals[] = "SELECT key, name, fold, type, data, seq FROM vals LIMIT 0";

} // namespace store::schema
