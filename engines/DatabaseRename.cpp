#include "engines/DatabaseRename.h"

#include <cstddef>

#include "engines/SqlQuoting.h"

namespace brevanto {
namespace {

struct Token {
  enum class Type { Word, Quoted, Text, Symbol };
  Type type = Type::Symbol;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string name;  // a word as written, an identifier without its quotes; upper for keywords
};

bool IsWordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

std::string Upper(std::string word) {
  for (char& c : word) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return word;
}

// Reads a statement's tokens as the server sees them: comments skipped, the text of
// version-conditional comments read as code, strings and quoted names whole.
class Lexer {
 public:
  Lexer(const std::string& text, bool backslashEscapes)
      : m_text(text), m_backslashEscapes(backslashEscapes) {}

  bool Next(Token& token) {
    const std::string& s = m_text;
    const std::size_t size = s.size();
    while (m_at < size) {
      const char c = s[m_at];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        ++m_at;
      } else if (c == '#' ||
                 (c == '-' && m_at + 2 <= size && s[m_at + 1] == '-' &&
                  (m_at + 2 == size || static_cast<unsigned char>(s[m_at + 2]) <= ' '))) {
        const std::size_t end = s.find('\n', m_at);
        m_at = end == std::string::npos ? size : end + 1;
      } else if (c == '/' && m_at + 1 < size && s[m_at + 1] == '*') {
        std::size_t at = m_at + 2;
        if (at < size && s[at] == 'M' && at + 1 < size && s[at + 1] == '!') ++at;
        if (at < size && s[at] == '!') {
          ++at;
          while (at < size && s[at] >= '0' && s[at] <= '9') ++at;
          ++m_versionComments;
          m_at = at;
        } else {
          const std::size_t end = s.find("*/", at);
          m_at = end == std::string::npos ? size : end + 2;
        }
      } else if (c == '*' && m_versionComments > 0 && m_at + 1 < size && s[m_at + 1] == '/') {
        --m_versionComments;
        m_at += 2;
      } else {
        break;
      }
    }
    if (m_at >= size) return false;
    token = Token{};
    token.begin = m_at;
    const char c = s[m_at];
    if (c == '\'' || c == '"' || c == '`') {
      token.type = c == '`' ? Token::Type::Quoted : Token::Type::Text;
      std::size_t at = m_at + 1;
      while (at < size) {
        if (s[at] == '\\' && c != '`' && m_backslashEscapes) {
          at += 2;
          continue;
        }
        if (s[at] == c) {
          if (at + 1 < size && s[at + 1] == c) {  // a doubled quote
            if (c == '`') token.name += c;
            at += 2;
            continue;
          }
          break;
        }
        if (c == '`') token.name += s[at];
        ++at;
      }
      m_at = at < size ? at + 1 : size;
    } else if (IsWordByte(c)) {
      token.type = Token::Type::Word;
      while (m_at < size && IsWordByte(s[m_at])) ++m_at;
      token.name = s.substr(token.begin, m_at - token.begin);
    } else {
      token.type = Token::Type::Symbol;
      token.name = std::string(1, c);
      ++m_at;
    }
    token.end = m_at;
    return true;
  }

 private:
  const std::string& m_text;
  const bool m_backslashEscapes;
  std::size_t m_at = 0;
  int m_versionComments = 0;
};

bool IsName(const Token& token) {
  return token.type == Token::Type::Quoted || token.type == Token::Type::Word;
}

bool IsKeyword(const Token& token, const char* word) {
  return token.type == Token::Type::Word && Upper(token.name) == word;
}

bool IsSymbol(const Token& token, char c) {
  return token.type == Token::Type::Symbol && token.name.size() == 1 && token.name[0] == c;
}

std::vector<Token> Tokens(const std::string& statement, bool backslashEscapes) {
  std::vector<Token> tokens;
  Lexer lexer(statement, backslashEscapes);
  Token token;
  while (lexer.Next(token)) tokens.push_back(std::move(token));
  return tokens;
}

// The database statements: where their name is, when they have one.
struct DatabaseName {
  bool isDatabaseStatement = false;
  const Token* name = nullptr;
};

DatabaseName FindDatabaseName(const std::vector<Token>& tokens) {
  std::size_t i = 0;
  const auto at = [&](std::size_t k) -> const Token* {
    return k < tokens.size() ? &tokens[k] : nullptr;
  };
  if (at(0) == nullptr) return {};
  if (IsKeyword(tokens[0], "USE")) {
    const Token* name = at(1);
    return {true, name != nullptr && IsName(*name) ? name : nullptr};
  }
  const bool create = IsKeyword(tokens[0], "CREATE");
  const bool drop = IsKeyword(tokens[0], "DROP");
  const bool alter = IsKeyword(tokens[0], "ALTER");
  if (!(create || drop || alter) || at(1) == nullptr ||
      !(IsKeyword(tokens[1], "DATABASE") || IsKeyword(tokens[1], "SCHEMA"))) {
    return {};
  }
  i = 2;
  if (at(i) != nullptr && IsKeyword(tokens[i], "IF")) {
    ++i;
    if (at(i) != nullptr && IsKeyword(tokens[i], "NOT")) ++i;
    if (at(i) != nullptr && IsKeyword(tokens[i], "EXISTS")) ++i;
  }
  const Token* name = at(i);
  if (name == nullptr || !IsName(*name)) return {true, nullptr};
  if (alter && name->type == Token::Type::Word) {
    // ALTER DATABASE without a name alters the current one.
    for (const char* option :
         {"DEFAULT", "CHARACTER", "CHARSET", "COLLATE", "COMMENT", "UPGRADE"}) {
      if (IsKeyword(*name, option)) return {true, nullptr};
    }
  }
  return {true, name};
}

// Whether tokens[i] is the first part of a qualified name ("x" of x.y, not of y.x.z's y).
bool IsQualifier(const std::vector<Token>& tokens, std::size_t i) {
  if (!IsName(tokens[i])) return false;
  if (i + 1 >= tokens.size() || !IsSymbol(tokens[i + 1], '.') ||
      tokens[i + 1].begin != tokens[i].end) {
    return false;
  }
  if (i > 0 && (IsSymbol(tokens[i - 1], '.') || IsSymbol(tokens[i - 1], '@')) &&
      tokens[i - 1].end == tokens[i].begin) {
    return false;
  }
  return true;
}

// Whether tokens[i] stands alone: not part of a qualified name.
bool StandsAlone(const std::vector<Token>& tokens, std::size_t i) {
  const bool dotBefore = i > 0 && IsSymbol(tokens[i - 1], '.');
  const bool dotAfter = i + 1 < tokens.size() && IsSymbol(tokens[i + 1], '.');
  return !dotBefore && !dotAfter;
}

std::string Quoted(const std::string& name) {
  return QuoteName(name, true);
}

}  // namespace

std::optional<std::string> DatabaseStatementName(const std::string& statement) {
  // Only the first tokens tell; a row statement is not read further.
  std::vector<Token> tokens;
  Lexer lexer(statement, true);
  Token token;
  while (tokens.size() < 8 && lexer.Next(token)) {
    tokens.push_back(std::move(token));
    if (tokens.size() == 1 && !IsKeyword(tokens[0], "USE") && !IsKeyword(tokens[0], "CREATE") &&
        !IsKeyword(tokens[0], "DROP") && !IsKeyword(tokens[0], "ALTER")) {
      return std::nullopt;
    }
  }
  const DatabaseName found = FindDatabaseName(tokens);
  if (found.name == nullptr) return std::nullopt;
  return found.name->name;
}

std::string SeveralDatabasesText(const std::string& path, const std::string& first,
                                 const std::string& second, const std::string& target) {
  return "The files to restore hold more than one database (" + Quoted(first) + " and " +
         Quoted(second) + ", in " + path + "): only a single database can be restored under " +
         "another name (" + Quoted(target) + "). Nothing was restored.";
}

Status DatabaseRename::Apply(std::string& statement, bool backslashEscapes) const {
  Lexer lexer(statement, backslashEscapes);
  Token token;
  if (!lexer.Next(token)) return Status::Ok();
  const std::string first = Upper(token.type == Token::Type::Word ? token.name : "");
  const std::string notRun = "Not run: the statement names the database " + Quoted(m_source) +
                             " where this restore cannot safely change it to " + Quoted(m_target) +
                             ", and it would act on the original";
  if (first == "INSERT" || first == "REPLACE") {
    // Rows are the bulk of a dump: only the head is read, for the table it fills.
    std::vector<Token> head{token};
    while (head.size() < 12 && lexer.Next(token)) {
      if (IsKeyword(token, "VALUES") || IsKeyword(token, "VALUE") || IsKeyword(token, "SELECT") ||
          IsKeyword(token, "SET") || IsSymbol(token, '(')) {
        break;
      }
      head.push_back(std::move(token));
    }
    head.push_back(Token{});  // so the last name is no qualifier
    for (std::size_t i = 1; i + 1 < head.size(); ++i) {
      if (IsQualifier(head, i)) {
        if (head[i].name == m_source) return Status::Error(notRun);
        break;
      }
    }
    return Status::Ok();
  }

  const std::vector<Token> tokens = Tokens(statement, backslashEscapes);
  std::vector<const Token*> renamed;
  const DatabaseName database = FindDatabaseName(tokens);
  if (database.isDatabaseStatement) {
    if (database.name == nullptr) return Status::Ok();
    if (database.name->name != m_source) {
      return Status::Error("Not run: the statement names the database " +
                           Quoted(database.name->name) + ", while this restore puts only " +
                           Quoted(m_source) + " under the name " + Quoted(m_target));
    }
    renamed.push_back(database.name);
  } else {
    // Which object a CREATE makes, past OR REPLACE, ALGORITHM=, DEFINER=, SQL SECURITY.
    std::size_t kind = tokens.size();
    if (first == "CREATE") {
      for (std::size_t i = 1; i < tokens.size() && i < 24; ++i) {
        const std::string word = tokens[i].type == Token::Type::Word ? Upper(tokens[i].name) : "";
        if (word == "VIEW" || word == "TRIGGER" || word == "PROCEDURE" || word == "FUNCTION" ||
            word == "EVENT" || word == "TABLE" || word == "INDEX" || word == "SEQUENCE" ||
            word == "USER" || word == "ROLE" || word == "SERVER") {
          kind = i;
          break;
        }
      }
    }
    const std::string what = kind < tokens.size() ? Upper(tokens[kind].name) : "";
    if (what == "VIEW") {
      // The server qualifies every name of a view reading another database's tables,
      // its own database's too: those qualifiers are renamed. A name of the database
      // standing alone (a table alias, a table named like its database) would make a
      // qualifier ambiguous: such a view is refused rather than guessed at.
      for (std::size_t i = kind + 1; i < tokens.size(); ++i) {
        if (!IsName(tokens[i]) || tokens[i].name != m_source) continue;
        if (IsQualifier(tokens, i)) {
          renamed.push_back(&tokens[i]);
        } else if (StandsAlone(tokens, i) && !(i > 0 && IsKeyword(tokens[i - 1], "AS")) &&
                   tokens[i].type == Token::Type::Quoted) {
          return Status::Error(notRun);
        }
      }
    } else if (what == "TRIGGER" || what == "PROCEDURE" || what == "FUNCTION" || what == "EVENT") {
      // The object's name, and a trigger's table: the body is the author's own text.
      std::size_t i = kind + 1;
      if (i < tokens.size() && IsKeyword(tokens[i], "IF")) i += 3;
      if (i < tokens.size() && IsQualifier(tokens, i) && tokens[i].name == m_source) {
        renamed.push_back(&tokens[i]);
      }
      if (what == "TRIGGER") {
        for (std::size_t k = i; k < tokens.size() && k < i + 12; ++k) {
          if (!IsKeyword(tokens[k], "ON")) continue;
          if (k + 1 < tokens.size() && IsQualifier(tokens, k + 1) &&
              tokens[k + 1].name == m_source) {
            renamed.push_back(&tokens[k + 1]);
          }
          break;
        }
      }
    } else {
      for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].name == m_source && IsQualifier(tokens, i)) return Status::Error(notRun);
      }
    }
  }
  // From the end, so the earlier positions stay valid.
  const std::string name = Quoted(m_target);
  for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
    statement.replace((*it)->begin, (*it)->end - (*it)->begin, name);
  }
  return Status::Ok();
}

}  // namespace brevanto
