// Replacing a file whole or not at all, on Windows.
#pragma once

#include <cstddef>
#include <string>

namespace k2t::windows {

// Test hooks for the paths a test machine cannot produce by itself.
struct AtomicWriteFaults {
  bool fail_before_replace = false;   // the temporary file is complete, the replace fails
  bool temporary_denied = false;      // the folder takes no new file
  unsigned long link_count = 0;       // the target's hard-link count, when not 0
};

// Writes data to a temporary file with a short name in the target's folder,
// flushes it and replaces the target with it (ReplaceFileW, which keeps the
// target's attributes and security, or MoveFileExW when there is no target
// yet), following a symbolic link to its file. On failure the target is
// untouched and the temporary file removed.
// Where a replacement would do harm, the file is written in place instead
// (truncated, written, flushed): when the folder takes no new file but the
// file itself may be written, and when the file has several hard links,
// which a replacement would split.
bool AtomicWriteFile(const std::wstring& path, const void* data, std::size_t size,
                     const AtomicWriteFaults* faults = nullptr);

}  // namespace k2t::windows
