#include "engines/ExportFile.h"

#include <string>

#include "engines/ExportFormat.h"

namespace brevanto {
namespace {

Status Append(COutputFile& file, const std::string& text) {
  // A file that is not open fails even with nothing to write.
  return text.empty() && file.IsOpen() ? Status::Ok() : file.Write(text);
}

}  // namespace

Status WriteExportHeader(COutputFile& file, const CExportFormatter& formatter) {
  return Append(file, formatter.Header());
}

Status WriteExportRow(COutputFile& file, CExportFormatter& formatter, const MYSQL_ROW values,
                      const unsigned long* lengths) {
  return Append(file, formatter.Row(values, lengths));
}

Status WriteExportTrailer(COutputFile& file, std::uint8_t format) {
  return Append(file, CExportFormatter::Trailer(format));
}

}  // namespace brevanto
