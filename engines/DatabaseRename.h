#pragma once
// Restoring a dump of one database under another name (a scratch copy beside the
// original): the statements a dump writes to create, drop, alter and select its
// database, and the qualified names the server writes into a view's definition, are
// given the new name as the statements stream past. Nothing else is rewritten: row
// values never, and the bodies of triggers, routines and events stay as their authors
// wrote them (only the object's own name is renamed when the CREATE qualifies it).
//
// A statement that qualifies a name with the source database anywhere else is not run,
// so that a restore under another name cannot change the original. Files naming more
// than one database cannot be renamed at all (DatabasesNamed() finds out first).

#include <optional>
#include <string>
#include <vector>

#include "core/Status.h"

namespace brevanto {

// The database a statement creates, drops, alters or selects (CREATE/DROP/ALTER
// DATABASE or SCHEMA, USE), as a name; nothing for any other statement. Reads through
// version-conditional comments, as the server does.
std::optional<std::string> DatabaseStatementName(const std::string& statement);

class DatabaseRename {
 public:
  DatabaseRename(std::string source, std::string target)
      : m_source(std::move(source)), m_target(std::move(target)) {}

  const std::string& Source() const { return m_source; }
  const std::string& Target() const { return m_target; }

  // Gives `statement` the target name where it names the source database. An Error
  // (and `statement` unchanged) when it names the source where no rename is safe, or
  // names another database in a database statement. `backslashEscapes` says how the
  // session reads backslashes in strings.
  Status Apply(std::string& statement, bool backslashEscapes = true) const;

 private:
  std::string m_source;
  std::string m_target;
};

// The text of the Error for files that name more than one database when a target name
// is given.
std::string SeveralDatabasesText(const std::string& path, const std::string& first,
                                 const std::string& second, const std::string& target);

}  // namespace brevanto
