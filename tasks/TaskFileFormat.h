#pragma once
// Constants shared by the task file's reader and writer (tasks/TaskFile.cpp).
// The layout of every version: docs/formats/task-file.md.

#include <cstddef>
#include <cstdint>

#include "core/BinaryIO.h"

namespace brevanto::taskfile {

// File magic and record marker of each version the reader knows. The writer produces
// only the current one.
inline constexpr std::uint32_t kMagicCurrent = kCurrentMagic;  // 0xCABDF9E0
inline constexpr std::uint32_t kMagicVersion2 = 0xBFDFAEC0u;
inline constexpr std::uint32_t kMagicVersion1 = 0xBFDFAEBAu;

// Smallest encodings (all texts empty, all lists empty), used to refuse counts that
// cannot fit in the bytes left before anything is allocated for them.
inline constexpr std::size_t kTextMinSize = 4;
inline constexpr std::size_t kDateTimeSize = 7 * 4;
inline constexpr std::size_t kTableBlockMinSize = 1 + 1 + 2 * kTextMinSize;
inline constexpr std::size_t kLegacyTableBlockMinSize = 1 + 2 * kTextMinSize;
inline constexpr std::size_t kDatabaseMinSize = 1 + kTextMinSize + 4;
inline constexpr std::size_t kBackupCopyMinSize = 6 * 4 + 3 + kTextMinSize + 4;
inline constexpr std::size_t kRestoreFileMinSize = 1 + 2 * kTextMinSize + 4 + kDateTimeSize;
inline constexpr std::size_t kScheduleSize = 1 + 4 + 4 + 7 + 31 + 5 * 4;  // 67
inline constexpr std::size_t kRecordMinSize = 368;                        // current version
inline constexpr std::size_t kLegacyRecordMinSize = 295;  // version 1, the smaller of the two

inline constexpr std::size_t kBackupOptionCount = 29;
// Where the older versions' option bytes go in BackupSettings' 29 option bytes.
inline constexpr std::size_t kVersion2OptionMap[] = {0, 1, 2, 6, 7, 8, 18, 12, 13, 26, 27, 28};
inline constexpr std::size_t kVersion1OptionMap[] = {0, 1, 2, 6, 7, 8, 18, 26, 27, 28};

}  // namespace brevanto::taskfile
