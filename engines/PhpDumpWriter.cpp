#include "engines/PhpDumpWriter.h"

#include <cstdio>

namespace brevanto {

std::string PhpEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 8);
  for (char c : text) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out;
}

std::string FormatPhpHeader(const std::string& host, const std::string& serverVersionText,
                            const TaskDateTime& runTime, const std::string& eol) {
  char date[64];
  std::snprintf(date, sizeof date, "%d-%02d-%02d %02d:%02d:%02d", runTime.Year, runTime.Month,
                runTime.Day, runTime.Hour, runTime.Minute, runTime.Second);
  const std::string stars(50, '*');
  std::string out;
  for (const std::string& line :
       {std::string("<?"), "/" + stars, std::string("**"),
        std::string("** Brevanto 2.0 Standard Edition"), std::string("**"), "** Host: " + host,
        std::string("**"), "** MySQL Server Version: " + serverVersionText, std::string("**"),
        "** " + std::string(date), std::string("**"), stars + "/", std::string("?>"), std::string(),
        std::string("<?")}) {
    out += line;
    out += eol;
  }
  return out;
}

std::string FormatPhpConnect(const CServerInfo& source, const std::string& eol) {
  return "  $conn = mysql_connect('" + PhpEscape(source.Host) + ":" + std::to_string(source.Port) +
         "','" + PhpEscape(source.UserName) + "','" + PhpEscape(source.Password) +
         "') or die('Can not connect to server!');" + eol;
}

void AppendPhpStatement(std::string& out, std::string_view statement, const std::string& eol) {
  out += "  mysql_query('";
  out.reserve(out.size() + statement.size() + statement.size() / 8 + 128);
  for (char c : statement) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  if (statement.empty() || statement.back() != ';') out += ';';
  out += "',$conn) or die('Failed! Error NO. '.mysql_errno($conn).'<br>'.mysql_error($conn));";
  out += eol;
}

std::string FormatPhpCreateDatabase(const std::string& statement, const std::string& database,
                                    const std::string& eol) {
  const std::string name = PhpEscape(database);
  // The statement is escaped too: a quote in the database name would end the PHP string.
  return "  mysql_query('" + PhpEscape(statement) + ";',$conn) or die('Failed to create database " +
         name + "!');" + eol + "  mysql_select_db('" + name +
         "',$conn) or die('Failed to select database " + name + "!');" + eol;
}

std::string FormatPhpTrailer(const std::string& eol) {
  return "  mysql_close($conn);" + eol + "  echo 'Finished';" + eol + "?>" + eol;
}

}  // namespace brevanto
