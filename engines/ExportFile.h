#pragma once
// Writing one export file: created before its header, then kept open while
// the header, each row and the trailer are handed to the OS one text at a time, so a
// stopped or killed run leaves whole rows only. One thread.

#include <cstdint>

#include <mysql.h>

#include "engines/OutputFile.h"

namespace brevanto {

class CExportFormatter;

// Each appends one text to the open file; the file's error when it cannot be written.
Status WriteExportHeader(COutputFile& file, const CExportFormatter& formatter);
Status WriteExportRow(COutputFile& file, CExportFormatter& formatter, const MYSQL_ROW values,
                      const unsigned long* lengths);
Status WriteExportTrailer(COutputFile& file, std::uint8_t format);

}  // namespace brevanto
