#pragma once
// The stored objects of a database beyond its tables and views: triggers, stored
// procedures and functions, and events. Reads their definitions (SHOW CREATE ...) and
// turns each into the statements that recreate it with the SQL mode (and, for events,
// the time zone) it was created under. Used by dumps and copies on their worker thread,
// over the run's connection.

#include <optional>
#include <string>
#include <vector>

#include "core/Status.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto {

class CMySQLConnection;
class CSqlDumpWriter;

struct SchemaObject {
  enum class Kind { Trigger, Procedure, Function, Event };
  Kind ObjectKind = Kind::Trigger;
  std::string Name;
  std::string Table;  // the trigger's table
  std::string SqlMode;
  std::string TimeZone;  // events only
  std::string Create;    // the CREATE statement as the server shows it
};

// Which kinds a run takes.
struct SchemaObjectKinds {
  bool Triggers = false;
  bool Routines = false;  // procedures and functions
  bool Events = false;
  bool Any() const { return Triggers || Routines || Events; }
};
SchemaObjectKinds KindsOf(const CAdvancedOptions& options);

// The objects of `database` of the asked kinds: triggers in table and firing order, then
// procedures, functions and events by name. An object whose definition cannot be read
// (a missing privilege) is left out and named in `problems`, one text per failure.
std::vector<SchemaObject> ReadSchemaObjects(CMySQLConnection& connection,
                                            const std::string& database,
                                            SchemaObjectKinds kinds,
                                            std::vector<std::string>& problems);

// The Warning a run logs for a database holding objects of kinds it does not take, e.g.
// "The database shop has triggers and events, which this task does not back up."; nothing
// when there are none (or the server cannot tell). `verb` is "back up" or "copy".
std::optional<std::string> LeftOutObjectsWarning(CMySQLConnection& connection,
                                                 const std::string& database,
                                                 SchemaObjectKinds taken, const char* verb);

// The statements that recreate `object` as a server takes them, one per element and
// without terminators: the SQL mode (and time zone) it was made under, DROP ... IF EXISTS,
// the CREATE, then the session's own settings back.
std::vector<std::string> MakeObjectStatements(const SchemaObject& object);

// Writes the statements of `objects` to a dump. In an SQL file each CREATE is framed by
// "DELIMITER ;;" lines, which the stock client and our restore need for bodies holding
// ";"; a PHP script sends every statement as it is. Stops at the first failed write.
Status WriteSchemaObjects(CSqlDumpWriter& writer, const std::vector<SchemaObject>& objects);

// The part of `objects` a dump file holds after the rows of `tables` (their triggers),
// and with `databaseLevel` also the routines and events.
std::vector<SchemaObject> ObjectsFor(const std::vector<SchemaObject>& objects,
                                     const std::vector<std::string>& tables, bool databaseLevel);

// "trigger", "procedure", "function", "event".
const char* ObjectKindName(SchemaObject::Kind kind);

}  // namespace brevanto
