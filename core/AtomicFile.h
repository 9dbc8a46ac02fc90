#pragma once
// Whole-file replacement for the files the program depends on: the bytes go to a
// temporary file in the same folder (mode 0600), are flushed to the disk, and the
// temporary file is renamed over the target. A crash or a full disk at any point leaves
// either the old file or the new one under the final name, never a part of one.
// Safe to call from any thread; concurrent writers of one path each rename a complete file.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Status.h"

namespace brevanto {

// Replaces the file at `path` with `bytes`. The message of a failure names the file and
// the system's reason.
Status WriteFileAtomically(const std::string& path, std::string_view bytes);

// Writes a new file at `path` (0600, flushed to the disk) that appears whole or not at all,
// and never in place of an existing file: that is refused with EEXIST's reason. For files
// whose loss cannot be undone by writing them again, such as a new key.
Status CreateFileExclusively(const std::string& path, std::string_view bytes);

// Enough of a file's status to notice that another program replaced or rewrote it.
struct FileStamp {
  bool Exists = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  std::int64_t ModifiedNs = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
FileStamp StampOf(const std::string& path);

enum class ReplaceResult { Replaced, ChangedOnDisk, Failed };

// WriteFileAtomically for a file other programs may replace too: the new bytes go in only
// while `path` still has the stamp `expected`, checked once more just before the rename.
// `written` receives the stamp of the file that now holds the bytes (taken from the
// temporary file, so a replacement right after the rename is still noticed).
ReplaceResult ReplaceFileIfUnchanged(const std::string& path, std::string_view bytes,
                                     const FileStamp& expected, FileStamp* written);
// Deletes `path` on the same condition; a missing file expected missing counts as deleted.
ReplaceResult RemoveFileIfUnchanged(const std::string& path, const FileStamp& expected);

// Reads the whole file into `bytes`. False when it cannot be opened or read, or when it
// is larger than `maxBytes` (the program's own files never are).
bool ReadFileBytes(const std::string& path, std::string& bytes,
                   std::size_t maxBytes = std::size_t{1} << 30);

// Deletes the file; a file that does not exist counts as deleted.
bool RemoveFileIfExists(const std::string& path);

bool FileExists(const std::string& path);

// Creates one folder level (mode 0700); an existing folder is no error.
bool MakeFolder(const std::string& path);

}  // namespace brevanto
