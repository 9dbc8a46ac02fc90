#include "engines/SchemaObjects.h"

#include <algorithm>

#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/SqlDumpWriter.h"

namespace brevanto {
namespace {

using Row = std::vector<std::optional<std::string>>;

// The rows of a small result (object lists, one SHOW CREATE); false when the query fails.
bool QueryRows(CMySQLConnection& connection, const std::string& statement, std::vector<Row>& rows) {
  rows.clear();
  if (!connection.Execute(statement)) return false;
  MySqlResult result(mysql_store_result(connection.Handle()));
  if (!result) return false;
  const unsigned int columns = mysql_num_fields(result.get());
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    Row& out = rows.emplace_back();
    for (unsigned int i = 0; i < columns; ++i) {
      if (row[i] == nullptr) {
        out.emplace_back();
      } else {
        out.emplace_back(std::string(row[i], lengths[i]));
      }
    }
  }
  return true;
}

std::string Literal(CMySQLConnection& connection, const std::string& text) {
  std::string escaped(text.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(connection.Handle(), escaped.data(), text.data(),
                                          static_cast<unsigned long>(text.size())));
  return "'" + escaped + "'";
}

// A literal for a value the server printed (an SQL mode, a time zone name), escaped
// without a connection: quotes and backslashes doubled.
std::string PlainLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += c;
    out += c;
  }
  return out + "'";
}

const char* ShowCreateVerb(SchemaObject::Kind kind) {
  switch (kind) {
    case SchemaObject::Kind::Trigger:
      return "TRIGGER";
    case SchemaObject::Kind::Procedure:
      return "PROCEDURE";
    case SchemaObject::Kind::Function:
      return "FUNCTION";
    case SchemaObject::Kind::Event:
      break;
  }
  return "EVENT";
}

// SHOW CREATE ... into `object`. Column order: name, sql_mode, then for events the time
// zone; the statement follows (NULL when the user may not see it).
bool ReadDefinition(CMySQLConnection& connection, const std::string& database,
                    SchemaObject& object) {
  std::vector<Row> rows;
  const std::string statement = std::string("SHOW CREATE ") + ShowCreateVerb(object.ObjectKind) +
                                " " + QuoteName(database, true) + "." +
                                QuoteName(object.Name, true);
  const bool isEvent = object.ObjectKind == SchemaObject::Kind::Event;
  const std::size_t createColumn = isEvent ? 3 : 2;
  if (!QueryRows(connection, statement, rows) || rows.size() != 1 ||
      rows[0].size() <= createColumn || !rows[0][createColumn]) {
    return false;
  }
  object.SqlMode = rows[0][1].value_or("");
  if (isEvent) object.TimeZone = rows[0][2].value_or("SYSTEM");
  object.Create = *rows[0][createColumn];
  return !object.Create.empty();
}

void Collect(CMySQLConnection& connection, const std::string& database, const std::string& list,
             SchemaObject::Kind kind, std::vector<SchemaObject>& objects,
             std::vector<std::string>& problems) {
  std::vector<Row> rows;
  if (!QueryRows(connection, list, rows)) {
    problems.push_back(WithServerError(std::string("Failed to list the ") +
                                           ObjectKindName(kind) + "s of the database " + database,
                                       connection.LastError()));
    return;
  }
  for (const Row& row : rows) {
    if (row.empty() || !row[0]) continue;
    SchemaObject object;
    object.ObjectKind = kind;
    object.Name = *row[0];
    if (row.size() > 1 && row[1]) object.Table = *row[1];
    if (ReadDefinition(connection, database, object)) {
      objects.push_back(std::move(object));
    } else {
      problems.push_back(WithServerError(std::string("Failed to read the definition of the ") +
                                             ObjectKindName(kind) + " " + database + "." +
                                             object.Name,
                                         connection.LastError()));
    }
  }
}

// What goes around an object's CREATE statement.
struct ObjectStatements {
  std::vector<std::string> Before;
  std::vector<std::string> After;
};

ObjectStatements SplitObjectStatements(const SchemaObject& object) {
  const bool isEvent = object.ObjectKind == SchemaObject::Kind::Event;
  ObjectStatements parts;
  parts.Before.emplace_back("SET @brevanto_saved_sql_mode = @@SESSION.sql_mode");
  parts.Before.push_back("SET SESSION sql_mode = " + PlainLiteral(object.SqlMode));
  if (isEvent) {
    parts.Before.emplace_back("SET @brevanto_saved_time_zone = @@SESSION.time_zone");
    parts.Before.push_back("SET SESSION time_zone = " + PlainLiteral(object.TimeZone));
    parts.After.emplace_back("SET SESSION time_zone = @brevanto_saved_time_zone");
  }
  parts.Before.push_back(std::string("DROP ") + ShowCreateVerb(object.ObjectKind) +
                         " IF EXISTS " + QuoteName(object.Name, true));
  parts.After.emplace_back("SET SESSION sql_mode = @brevanto_saved_sql_mode");
  return parts;
}

std::string JoinKinds(const std::vector<std::string>& kinds) {
  std::string text;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (i > 0) text += i + 1 == kinds.size() ? " and " : ", ";
    text += kinds[i];
  }
  return text;
}

}  // namespace

const char* ObjectKindName(SchemaObject::Kind kind) {
  switch (kind) {
    case SchemaObject::Kind::Trigger:
      return "trigger";
    case SchemaObject::Kind::Procedure:
      return "procedure";
    case SchemaObject::Kind::Function:
      return "function";
    case SchemaObject::Kind::Event:
      break;
  }
  return "event";
}

SchemaObjectKinds KindsOf(const CAdvancedOptions& options) {
  return {options.IncludeTriggers, options.IncludeRoutines, options.IncludeEvents};
}

std::vector<SchemaObject> ReadSchemaObjects(CMySQLConnection& connection,
                                            const std::string& database,
                                            SchemaObjectKinds kinds,
                                            std::vector<std::string>& problems) {
  std::vector<SchemaObject> objects;
  const std::string schema = Literal(connection, database);
  if (kinds.Triggers) {
    // ACTION_ORDER keeps several triggers of one event firing in their order.
    Collect(connection, database,
            "SELECT TRIGGER_NAME, EVENT_OBJECT_TABLE FROM information_schema.TRIGGERS "
            "WHERE TRIGGER_SCHEMA = " + schema + " ORDER BY EVENT_OBJECT_TABLE, ACTION_ORDER",
            SchemaObject::Kind::Trigger, objects, problems);
  }
  if (kinds.Routines) {
    for (SchemaObject::Kind kind : {SchemaObject::Kind::Procedure, SchemaObject::Kind::Function}) {
      Collect(connection, database,
              "SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = " +
                  schema + " AND ROUTINE_TYPE = '" + ShowCreateVerb(kind) +
                  "' ORDER BY ROUTINE_NAME",
              kind, objects, problems);
    }
  }
  if (kinds.Events) {
    Collect(connection, database,
            "SELECT EVENT_NAME FROM information_schema.EVENTS WHERE EVENT_SCHEMA = " + schema +
                " ORDER BY EVENT_NAME",
            SchemaObject::Kind::Event, objects, problems);
  }
  return objects;
}

std::optional<std::string> LeftOutObjectsWarning(CMySQLConnection& connection,
                                                 const std::string& database,
                                                 SchemaObjectKinds taken, const char* verb) {
  if (taken.Triggers && taken.Routines && taken.Events) return std::nullopt;
  const std::string schema = Literal(connection, database);
  std::vector<Row> rows;
  if (!QueryRows(connection,
                 "SELECT (SELECT COUNT(*) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " +
                     schema +
                     "), (SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = " +
                     schema +
                     " AND ROUTINE_TYPE = 'PROCEDURE'), (SELECT COUNT(*) FROM "
                     "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = " +
                     schema +
                     " AND ROUTINE_TYPE = 'FUNCTION'), (SELECT COUNT(*) FROM "
                     "information_schema.EVENTS WHERE EVENT_SCHEMA = " +
                     schema + ")",
                 rows) ||
      rows.size() != 1 || rows[0].size() != 4) {
    return std::nullopt;
  }
  auto present = [&](std::size_t column) { return rows[0][column].value_or("0") != "0"; };
  std::vector<std::string> kinds;
  if (!taken.Triggers && present(0)) kinds.emplace_back("triggers");
  if (!taken.Routines && present(1)) kinds.emplace_back("stored procedures");
  if (!taken.Routines && present(2)) kinds.emplace_back("stored functions");
  if (!taken.Events && present(3)) kinds.emplace_back("events");
  if (kinds.empty()) return std::nullopt;
  return "The database " + database + " has " + JoinKinds(kinds) + ", which this task does not " +
         verb + ".";
}

std::vector<SchemaObject> ObjectsFor(const std::vector<SchemaObject>& objects,
                                     const std::vector<std::string>& tables, bool databaseLevel) {
  std::vector<SchemaObject> chosen;
  for (const SchemaObject& object : objects) {
    const bool take = object.ObjectKind == SchemaObject::Kind::Trigger
                          ? std::find(tables.begin(), tables.end(), object.Table) != tables.end()
                          : databaseLevel;
    if (take) chosen.push_back(object);
  }
  return chosen;
}

std::vector<std::string> MakeObjectStatements(const SchemaObject& object) {
  ObjectStatements parts = SplitObjectStatements(object);
  parts.Before.push_back(object.Create);
  parts.Before.insert(parts.Before.end(), parts.After.begin(), parts.After.end());
  return parts.Before;
}

Status WriteSchemaObjects(CSqlDumpWriter& writer, const std::vector<SchemaObject>& objects) {
  const std::string& eol = writer.Eol();
  for (const SchemaObject& object : objects) {
    const ObjectStatements parts = SplitObjectStatements(object);
    for (const std::string& statement : parts.Before) {
      if (Status s = writer.AppendStatement(statement); !s.ok()) return s;
    }
    Status created = writer.IsPhp() ? writer.AppendStatement(object.Create)
                                    : writer.File().Write("DELIMITER ;;" + eol + object.Create +
                                                          ";;" + eol + "DELIMITER ;" + eol);
    if (!created.ok()) return created;
    for (const std::string& statement : parts.After) {
      if (Status s = writer.AppendStatement(statement); !s.ok()) return s;
    }
  }
  return Status::Ok();
}

}  // namespace brevanto
