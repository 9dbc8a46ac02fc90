#include "engines/ContentDigest.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "engines/MySqlConnection.h"

namespace brevanto {
namespace {

constexpr std::size_t kDigestBytes = 16;  // XXH3's 128 bits

std::string Literal(CMySQLConnection& connection, const std::string& text) {
  return "'" + EscapeLiteral(connection.Handle(), text) + "'";
}

bool Computed(std::string extra) {
  for (char& c : extra) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // As the dump leaves them out of its INSERTs: the server makes their values.
  return extra.find("GENERATED") != std::string::npos ||
         extra.find("PERSISTENT") != std::string::npos ||
         extra.find("ROW START") != std::string::npos || extra.find("ROW END") != std::string::npos;
}

std::string SelectList(const std::vector<DigestColumn>& columns) {
  std::string list;
  for (const DigestColumn& column : columns) {
    if (!list.empty()) list += ',';
    list += QuoteName(column.Name, true);
  }
  return list;
}

// The session settings the canonical read changes, and puts back.
class CanonicalSession {
 public:
  explicit CanonicalSession(CMySQLConnection& connection) : m_connection(connection) {}
  ~CanonicalSession() {
    if (!m_saved) return;
    (void)m_connection.Execute("SET SESSION character_set_client = " + m_values[0] +
                               ", SESSION character_set_connection = " + m_values[1] +
                               ", SESSION character_set_results = " + m_values[2] +
                               ", SESSION time_zone = " + m_values[3] +
                               ", SESSION sql_mode = " + m_values[4]);
  }
  bool Enter() {
    if (!m_connection.Execute("SELECT @@SESSION.character_set_client, "
                              "@@SESSION.character_set_connection, "
                              "@@SESSION.character_set_results, @@SESSION.time_zone, "
                              "@@SESSION.sql_mode")) {
      return false;
    }
    MySqlResult result(mysql_store_result(m_connection.Handle()));
    MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
    if (row == nullptr || mysql_num_fields(result.get()) != m_values.size()) return false;
    for (std::size_t i = 0; i < m_values.size(); ++i) {
      m_values[i] = row[i] == nullptr ? "NULL" : Literal(m_connection, row[i]);
    }
    m_saved = true;
    // Names travel in utf8mb4; values come unconverted.
    return m_connection.Execute("SET NAMES utf8mb4") &&
           m_connection.Execute("SET SESSION time_zone = '+00:00', SESSION sql_mode = ''");
  }

 private:
  CMySQLConnection& m_connection;
  std::vector<std::string> m_values = std::vector<std::string>(5);
  bool m_saved = false;
};

}  // namespace

void RowsDigest::AddRow(const MYSQL_ROW values, const unsigned long* lengths,
                        const std::vector<unsigned>& columns) {
  m_encoded.clear();
  for (unsigned column : columns) {
    if (values[column] == nullptr) {
      m_encoded += '\0';
      continue;
    }
    const std::uint64_t length = lengths[column];
    char head[9] = {'\1'};
    for (int i = 0; i < 8; ++i) head[1 + i] = static_cast<char>((length >> (56 - 8 * i)) & 0xff);
    m_encoded.append(head, sizeof head);
    m_encoded.append(values[column], lengths[column]);
  }
  const XXH128_hash_t hash = XXH3_128bits(m_encoded.data(), m_encoded.size());
  const std::uint64_t high = hash.high64;
  const std::uint64_t low = hash.low64;
  // Modulo 2^128: the carry of the low half goes up, the high half wraps.
  m_low += low;
  m_high += high + (m_low < low ? 1 : 0);
  ++m_rows;
}

std::string RowsDigest::Text() const {
  std::uint8_t bytes[kDigestBytes];
  for (std::size_t i = 0; i < kDigestBytes / 2; ++i) {
    const int shift = 56 - 8 * static_cast<int>(i);
    bytes[i] = static_cast<std::uint8_t>(m_high >> shift);
    bytes[i + kDigestBytes / 2] = static_cast<std::uint8_t>(m_low >> shift);
  }
  return std::string(kRowsDigestPrefix) + ToHex(bytes, kDigestBytes);
}

bool ReadDigestColumns(CMySQLConnection& connection, const std::string& database,
                       const std::string& table, std::vector<DigestColumn>& columns,
                       std::string& resultsCharset) {
  columns.clear();
  if (!connection.Execute("SELECT COLUMN_NAME, CHARACTER_SET_NAME, EXTRA, "
                          "@@SESSION.character_set_results FROM information_schema.COLUMNS "
                          "WHERE TABLE_SCHEMA = " +
                          Literal(connection, database) + " AND TABLE_NAME = " +
                          Literal(connection, table) + " ORDER BY ORDINAL_POSITION")) {
    return false;
  }
  MySqlResult result(mysql_store_result(connection.Handle()));
  if (!result || mysql_num_fields(result.get()) != 4) return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    if (row[0] == nullptr) return false;
    resultsCharset = row[3] == nullptr ? "binary" : row[3];
    if (row[2] != nullptr && Computed(row[2])) continue;
    std::string charset = row[1] == nullptr ? "" : row[1];
    if (charset == "binary") charset.clear();
    columns.push_back({std::string(row[0], lengths[0]), std::move(charset)});
  }
  return !columns.empty();
}

DumpRowsDigest::DumpRowsDigest(std::vector<DigestColumn> columns, const std::string& resultsCharset)
    : m_columns(std::move(columns)) {
  if (resultsCharset == "binary") return;
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    const DigestColumn& column = m_columns[i];
    if (column.Charset.empty() || column.Charset == resultsCharset) continue;
    m_converted.push_back(i);
    m_extraSelect += ",CAST(" + QuoteName(column.Name, true) + " AS BINARY)";
  }
}

bool DumpRowsDigest::Bind(const MYSQL_FIELD* fields, unsigned count) {
  m_sources.clear();
  if (count < ExtraColumns()) return false;
  const unsigned dumped = count - ExtraColumns();
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    const auto converted = std::find(m_converted.begin(), m_converted.end(), i);
    if (converted != m_converted.end()) {
      m_sources.push_back(dumped + static_cast<unsigned>(converted - m_converted.begin()));
      continue;
    }
    unsigned found = dumped;
    for (unsigned f = 0; f < dumped && found == dumped; ++f) {
      if (fields[f].org_name != nullptr &&
          std::string_view(fields[f].org_name, fields[f].org_name_length) == m_columns[i].Name) {
        found = f;
      }
    }
    if (found == dumped) return false;
    m_sources.push_back(found);
  }
  return true;
}

Status ComputeRowsDigest(CMySQLConnection& connection, const std::string& database,
                         const std::string& table, ManifestTable& out) {
  const std::string name = database + "." + table;
  CanonicalSession session(connection);
  if (!session.Enter()) {
    return Status::Error(WithServerError(
        "Failed to prepare the session for the rows digest of " + name, connection.LastError()));
  }
  std::vector<DigestColumn> columns;
  std::string resultsCharset;
  if (!ReadDigestColumns(connection, database, table, columns, resultsCharset)) {
    return Status::Error(
        WithServerError("Failed to read the columns of the table " + name, connection.LastError()));
  }
  out = ManifestTable{database, table, {}, 0, {}};
  if (connection.Execute("SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
                         Literal(connection, database) +
                         " AND TABLE_NAME = " + Literal(connection, table))) {
    MySqlResult engine(mysql_store_result(connection.Handle()));
    MYSQL_ROW row = engine ? mysql_fetch_row(engine.get()) : nullptr;
    if (row != nullptr && row[0] != nullptr) out.Engine = row[0];
  }
  if (!connection.Execute("SET SESSION character_set_results = binary") ||
      !connection.Execute("SELECT " + SelectList(columns) + " FROM " + QuoteName(database, true) +
                          "." + QuoteName(table, true))) {
    return Status::Error(
        WithServerError("Failed to read the rows of the table " + name, connection.LastError()));
  }
  MySqlResult result(mysql_use_result(connection.Handle()));
  if (!result) {
    return Status::Error(
        WithServerError("Failed to read the rows of the table " + name, connection.LastError()));
  }
  std::vector<unsigned> all(columns.size());
  for (unsigned i = 0; i < all.size(); ++i) all[i] = i;
  RowsDigest digest;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    digest.AddRow(row, mysql_fetch_lengths(result.get()), all);
  }
  if (mysql_errno(connection.Handle()) != 0) {
    return Status::Error(
        WithServerError("Failed to read all rows of the table " + name, connection.LastError()));
  }
  out.Rows = digest.Rows();
  out.Digest = digest.Text();
  return Status::Ok();
}

std::string DefinitionDigest(std::string_view create) {
  const std::size_t at = create.find("DEFINER=");
  // Only a clause in the head counts: the head holds no quote or parenthesis before it,
  // while the object's name (always quoted) and any body come after.
  if (at == std::string_view::npos ||
      create.substr(0, at).find_first_of("`'\"(") != std::string_view::npos) {
    return Sha256Hex(create);
  }
  // user, then @host: each a quoted name (backticks doubled inside) or a bare word.
  const auto skipName = [&create](std::size_t p) {
    if (p < create.size() && create[p] == '`') {
      for (++p; p < create.size(); ++p) {
        if (create[p] != '`') continue;
        if (p + 1 < create.size() && create[p + 1] == '`') {
          ++p;
          continue;
        }
        return p + 1;
      }
      return std::string_view::npos;
    }
    while (p < create.size() && create[p] != ' ' && create[p] != '@') ++p;
    return p;
  };
  std::size_t end = skipName(at + std::string_view("DEFINER=").size());
  if (end != std::string_view::npos && end < create.size() && create[end] == '@') {
    end = skipName(end + 1);
  }
  if (end == std::string_view::npos) return Sha256Hex(create);
  if (end < create.size() && create[end] == ' ') ++end;
  std::string without(create.substr(0, at));
  without.append(create.substr(end));
  return Sha256Hex(without);
}

Status ComputeDefinitionDigest(CMySQLConnection& connection, const std::string& kind,
                               const std::string& database, const std::string& name,
                               std::string& digest) {
  // SHOW CREATE's column holding the statement.
  unsigned column = 2;
  if (kind == "view") {
    column = 1;
  } else if (kind == "event") {
    column = 3;
  } else if (kind != "trigger" && kind != "procedure" && kind != "function") {
    return Status::Error("Unknown kind of object: " + kind);
  }
  std::string verb = kind;
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string what = kind + " " + database + "." + name;
  if (!SelectDatabase(connection, database) ||
      !connection.Execute("SHOW CREATE " + verb + " " + QuoteName(name, true))) {
    return Status::Error(
        WithServerError("Failed to read the definition of the " + what, connection.LastError()));
  }
  MySqlResult result(mysql_store_result(connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || mysql_num_fields(result.get()) <= column || row[column] == nullptr) {
    return Status::Error("Failed to read the definition of the " + what);
  }
  digest =
      DefinitionDigest(std::string_view(row[column], mysql_fetch_lengths(result.get())[column]));
  return Status::Ok();
}

void ManifestCollector::AddTable(ManifestTable table) {
  std::lock_guard lock(m_lock);
  auto& tables = m_manifest.Tables;
  const auto key = [](const ManifestTable& t) { return std::tie(t.Database, t.Name); };
  const auto place = std::upper_bound(
      tables.begin(), tables.end(), table,
      [&key](const ManifestTable& a, const ManifestTable& b) { return key(a) < key(b); });
  tables.insert(place, std::move(table));
}

void ManifestCollector::AddObject(ManifestObject object) {
  std::lock_guard lock(m_lock);
  auto& objects = m_manifest.Objects;
  const auto key = [](const ManifestObject& o) { return std::tie(o.Database, o.Kind, o.Name); };
  const auto place = std::upper_bound(
      objects.begin(), objects.end(), object,
      [&key](const ManifestObject& a, const ManifestObject& b) { return key(a) < key(b); });
  objects.insert(place, std::move(object));
}

}  // namespace brevanto
