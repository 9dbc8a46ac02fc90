#pragma once
// CInsertStatements: groups one table's rendered rows into the INSERT statements a dump
// writes or a copy sends. Owned by the code that reads the rows, on its thread.

#include <cstddef>
#include <cstdint>
#include <string>

namespace brevanto {

// A multi-row INSERT ends after this many rows, or earlier, before its text would pass
// kMaxMultiRowInsertBytes: a statement has to fit the server's max_allowed_packet
// when it is replayed, and a server's default is no larger than a few MB.
constexpr int kRowsPerMultiRowInsert = 10;
constexpr std::size_t kMaxMultiRowInsertBytes = 1024 * 1024;

// How a run groups rows into statements.
struct InsertShape {
  bool MultiRow = false;
  std::size_t MaxBytes = kMaxMultiRowInsertBytes;
  int MaxRows = kRowsPerMultiRowInsert;  // 0: as many as MaxBytes takes
};

// The task's own shape (`taskMultiRow`, ten rows at most), or with `statementBytes`
// above 0 statements filled with rows up to that size. `maxPacket` (0: unknown) is the
// packet limit of the server that will run them; no statement of several rows passes it.
InsertShape ChooseInsertShape(bool taskMultiRow, std::uint32_t statementBytes,
                              std::size_t maxPacket);

class CInsertStatements {
 public:
  // `prefix` is the statement's start ("INSERT INTO `t` VALUES "). With `multiRow` off
  // every row is a statement of its own; `maxBytes` caps multi-row statements only.
  CInsertStatements(std::string prefix, bool multiRow,
                    std::size_t maxBytes = kMaxMultiRowInsertBytes);
  CInsertStatements(std::string prefix, const InsertShape& shape);

  // Appends one row: `render(text)` appends the row's "(...)" to `text`. True when a
  // statement is complete; Ready() holds it until Sent(). A row that would make a
  // multi-row statement pass the cap ends that statement and starts the next one.
  template <class Render>
  bool AddRow(Render&& render) {
    if (m_pending > 0) m_statement += ',';
    const std::size_t rowStart = m_statement.size();
    render(m_statement);
    ++m_pending;
    return RowAdded(rowStart);
  }

  // After the last row: true when rows are left over, Ready() then holds them.
  bool Finish();

  // The complete statement (the caller may append its terminator in place) and how
  // many rows it holds.
  std::string& Ready() { return m_statement; }
  int ReadyRows() const { return m_readyRows; }
  // The statement was sent or written: start the next one.
  void Sent();
  // Hands the complete statement over (to be sent elsewhere) and starts the next one in
  // `spare`, whose buffer is reused.
  std::string TakeReady(std::string spare = {});

 private:
  bool RowAdded(std::size_t rowStart);
  void StartNext();

  const std::size_t m_prefixSize;
  const bool m_multiRow;
  const std::size_t m_maxBytes;
  const int m_maxRows;
  std::string m_statement;
  std::string m_carried;  // the row that starts the next statement
  bool m_hasCarried = false;
  int m_pending = 0;  // rows of the statement being built
  int m_readyRows = 0;
};

}  // namespace brevanto
