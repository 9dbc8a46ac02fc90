#pragma once
// Output folders a run needs: a task imported from text names folders that may not exist
// yet (the import creates nothing), so the run makes them, parents included.

#include <string>

namespace brevanto {

// True when `path` is a folder afterwards.
bool MakeFolderWithParents(const std::string& path);

}  // namespace brevanto
