#include "engines/ExportFile.h"

#include <string>

#include "engines/ExportFormat.h"

namespace brevanto {
namespace {

bool Append(COutputFile& file, const std::string& text) {
  if (!file.IsOpen()) return false;
  return text.empty() || file.Write(text).ok();
}

}  // namespace

bool WriteExportHeader(COutputFile& file, const CExportFormatter& formatter) {
  return Append(file, formatter.Header());
}

bool WriteExportRow(COutputFile& file, CExportFormatter& formatter, const MYSQL_ROW values,
                    const unsigned long* lengths) {
  return Append(file, formatter.Row(values, lengths));
}

bool WriteExportTrailer(COutputFile& file, std::uint8_t format) {
  return Append(file, CExportFormatter::Trailer(format));
}

}  // namespace brevanto
