// Feeds arbitrary bytes to the SQL statement splitter as a script or restore file. Beyond
// "no crash, no huge allocation": block boundaries never change the statements, and
// stored statements shown again by JoinSqlStatements split back to themselves.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engines/SqlInput.h"
#include "engines/StatementSplitter.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Hands out the text a few bytes per read.
class TrickleInput final : public brevanto::CSqlInput {
 public:
  TrickleInput(std::string_view text, std::size_t step) : m_rest(text), m_step(step) {}
  brevanto::Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = std::min({capacity, m_step, m_rest.size()});
    std::memcpy(buffer, m_rest.data(), got);
    m_rest.remove_prefix(got);
    return brevanto::Status::Ok();
  }

 private:
  std::string_view m_rest;
  std::size_t m_step;
};

// Every statement's text, number and offset, and the error that ended the input.
std::vector<std::string> SplitAll(brevanto::CSqlInput& input, std::size_t limit) {
  brevanto::CStatementSplitter splitter(input, limit);
  std::vector<std::string> out;
  brevanto::SqlStatement statement;
  for (;;) {
    const brevanto::SplitResult result = splitter.Next(statement);
    if (result == brevanto::SplitResult::End) return out;
    if (result == brevanto::SplitResult::Error) {
      out.push_back("error " + splitter.ErrorText());
      return out;
    }
    out.push_back(std::to_string(static_cast<int>(result)) + " " +
                  std::to_string(statement.Number) + " " + std::to_string(statement.Offset) + " " +
                  statement.Text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the read size and the statement limit.
  const std::size_t step = 1 + data[0] % 7;
  const std::size_t limit = data[0] & 0x80 ? 64 : brevanto::CStatementSplitter::kNoLimit;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  brevanto::CTextSqlInput whole(text);
  TrickleInput trickle(text, step);
  Check(SplitAll(whole, limit) == SplitAll(trickle, limit));

  std::vector<std::string> statements;
  if (!brevanto::SplitSqlStatements(text, statements).ok()) return 0;
  std::vector<std::string> again;
  Check(brevanto::SplitSqlStatements(brevanto::JoinSqlStatements(statements), again).ok());
  Check(again == statements);
  return 0;
}
