#pragma once
// The content digests a copy's manifest records (docs/formats/rows-digest.md): the rows
// digest of a table, taken from the rows as the dump reads them and recomputed later on
// any copy of the table, and the digest of a view's, trigger's, routine's or event's
// definition. Used on a run's worker threads; a connection by one thread at a time.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <mysql.h>

#include "core/Sha256.h"
#include "core/Status.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

class CMySQLConnection;

inline constexpr std::string_view kRowsDigestPrefix = "rows-xxh3-sum128:";

// The order-independent sum of the rows' 128-bit XXH3 hashes, as rows are handed over.
// A fast non-cryptographic hash: the digest finds changed or lost rows, while the SHA-256
// of the files guards against deliberate changes.
class RowsDigest {
 public:
  // One row: `values[i]` (null for NULL) of `lengths[i]` bytes, for each i in `columns`.
  void AddRow(const MYSQL_ROW values, const unsigned long* lengths,
              const std::vector<unsigned>& columns);
  std::uint64_t Rows() const { return m_rows; }
  // "rows-xxh3-sum128:" and 32 lowercase hex digits.
  std::string Text() const;

 private:
  std::string m_encoded;     // the row being hashed, kept for its capacity
  std::uint64_t m_high = 0;  // the 128-bit sum, in two halves
  std::uint64_t m_low = 0;
  std::uint64_t m_rows = 0;
};

// A column the digest covers: every stored column in table order, invisible ones too;
// generated and row-period columns are the server's own and left out.
struct DigestColumn {
  std::string Name;
  std::string Charset;  // of a character column; empty for any other type
};

// The digest's columns of `database`.`table` and the character set the session's results
// arrive in ("binary" when they are not converted). False when the server will not say.
bool ReadDigestColumns(CMySQLConnection& connection, const std::string& database,
                       const std::string& table, std::vector<DigestColumn>& columns,
                       std::string& resultsCharset);

// The digest of the rows a dump reads with its own SELECT. The digest is defined over
// each character column in its own character set; one the session converts is read a
// second time in the same SELECT, unconverted, so the table is scanned once.
class DumpRowsDigest {
 public:
  // From ReadDigestColumns.
  DumpRowsDigest(std::vector<DigestColumn> columns, const std::string& resultsCharset);
  // What the dump's select list gets appended (", CAST(`c` AS BINARY)..."), and how many
  // columns that adds at the end of each row.
  const std::string& ExtraSelect() const { return m_extraSelect; }
  unsigned ExtraColumns() const { return static_cast<unsigned>(m_converted.size()); }
  // Finds the digest's columns among the result's; false (no digest) when one is missing.
  bool Bind(const MYSQL_FIELD* fields, unsigned count);
  void AddRow(const MYSQL_ROW values, const unsigned long* lengths) {
    m_digest.AddRow(values, lengths, m_sources);
  }
  std::string Text() const { return m_digest.Text(); }

 private:
  std::vector<DigestColumn> m_columns;
  std::vector<std::size_t> m_converted;  // indexes into m_columns read again unconverted
  std::string m_extraSelect;
  std::vector<unsigned> m_sources;  // per digest column, its index in the result
  RowsDigest m_digest;
};

// Reads `database`.`table` in the digest's canonical session (unconverted results, UTC,
// an empty SQL mode; the session's own settings are put back) and fills `out`: database,
// name, engine, the row count and the rows digest. Runs inside whatever transaction the
// connection has open, so a caller holding a snapshot digests that snapshot.
Status ComputeRowsDigest(CMySQLConnection& connection, const std::string& database,
                         const std::string& table, ManifestTable& out);

// SHA-256 (hex) of a CREATE statement as the server shows it, with its DEFINER clause
// taken out: a copy restored under another account still matches.
std::string DefinitionDigest(std::string_view create);

// The definition digest of the object `kind` ("view", "trigger", "procedure", "function",
// "event") `database`.`name`, as a copy's manifest records it, read with `database` made
// the session's current one (so the definition names its own database's objects as the
// dump read them); the session stays in `database`.
Status ComputeDefinitionDigest(CMySQLConnection& connection, const std::string& kind,
                               const std::string& database, const std::string& name,
                               std::string& digest);

// Collects a run's tables and objects from its lanes into the manifest, in a stable order
// (database, then kind, then name) however the lanes interleave. Thread-safe.
class ManifestCollector {
 public:
  explicit ManifestCollector(CopyManifest& manifest) : m_manifest(manifest) {}
  void AddTable(ManifestTable table);
  void AddObject(ManifestObject object);

 private:
  std::mutex m_lock;
  CopyManifest& m_manifest;
};

}  // namespace brevanto
