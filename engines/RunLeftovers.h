#pragma once
// The files earlier runs of a backup task left in its backup folder without a copy
// recording them: ".incomplete" files of failed or cancelled runs, and the complete-looking
// per-table or per-database files of runs that never got as far as recording their copy.
// A successful run removes those older than itself, so they neither pile up nor fill the
// disk that every later run needs.

#include <cstdint>
#include <string>
#include <vector>

#include "engines/CompressedOutput.h"
#include "tasks/TaskItem.h"

namespace brevanto {

struct RunLeftoverSearch {
  const CTaskItem* Task = nullptr;  // its settings, source and backup history
  Compression FileCompression = Compression::None;
  std::vector<DatabaseItem> Databases;    // the run's resolved selection
  TaskDateTime RunStart;                  // only runs that started before it count
  std::vector<std::string> CurrentFiles;  // the files this run recorded
  bool Encrypted = false;                 // the names end in ".age"
};

// The leftovers found, full paths. A file counts only when its name is one the task's own
// file name format gives for a database and table of the selection, with the date and
// time of an earlier run (in the name or its DATE_TIME folder), and no copy lists it.
// Complete-looking files count only when the format holds the task's name: without it,
// another task writing to the same folder makes the same names for copies it recorded.
// Same-file mode has none. The manifest such a run left beside a leftover file or its
// DATE_TIME folder counts with it, a recorded copy's never. Reads the folder.
std::vector<std::string> FindRunLeftovers(const RunLeftoverSearch& search);

}  // namespace brevanto
