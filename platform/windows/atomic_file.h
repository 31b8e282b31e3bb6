// Replacing a file whole or not at all, on Windows.
#pragma once

#include <cstddef>
#include <string>

namespace k2t::windows_platform {

// Test hooks for the paths a test machine cannot produce by itself.
struct AtomicWriteFaults {
  bool fail_before_replace = false;   // the temporary file is complete, the replace fails
  bool temporary_denied = false;      // the folder takes no new file
  unsigned long link_count = 0;       // the target's hard-link count, when not 0
  unsigned long replace_error = 0;    // ReplaceFileW fails with this error, when not 0
  unsigned in_place_busy = 0;         // so many opens to write in place meet a sharing violation
};

// Writes data to a temporary file with a short name in the target's folder,
// flushes it and replaces the target with it (ReplaceFileW, which keeps the
// target's attributes and security, or MoveFileExW when there is no target
// yet), following a symbolic link to its file. On failure the target is
// untouched and the temporary file removed.
// Where a replacement would do harm or cannot be made, the file is written
// in place instead (space reserved first, then overwritten, cut to length
// and flushed): when the folder takes no new file but the file itself may
// be written, when the file has several hard links, which a replacement
// would split, and when another program holds the file without delete
// sharing (an antivirus, an indexer, a backup), which makes ReplaceFileW
// fail. A file held against writing too is tried again briefly, under 50 ms
// in all: saves run on the host's thread.
// On failure, error (when given) holds the system's error code.
bool AtomicWriteFile(const std::wstring& path, const void* data, std::size_t size,
                     const AtomicWriteFaults* faults = nullptr, unsigned long* error = nullptr);

// The system's words for an error code.
std::string ErrorText(unsigned long error);

}  // namespace k2t::windows_platform
