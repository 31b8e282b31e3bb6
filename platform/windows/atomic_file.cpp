#include "platform/windows/atomic_file.h"

#include <windows.h>

#include <vector>

namespace k2t::windows {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  bool Close() {
    if (!valid()) return true;
    const bool ok = ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

// The file a symbolic link points to; the path itself otherwise.
std::wstring FinalPath(const std::wstring& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
  Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return path;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = ::GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = ::GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (n == 0 || n >= buffer.size()) return path;
  return std::wstring(buffer.data(), n);
}

// 0 when unknown (Wine does not count links).
unsigned long LinkCount(const std::wstring& path) {
  Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return 0;
  return info.nNumberOfLinks;
}

bool WriteInPlace(const std::wstring& path, const void* data, std::size_t size) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  bool ok = WriteAll(file.get(), data, size);
  if (ok) ok = ::FlushFileBuffers(file.get()) != 0;
  return file.Close() && ok;
}

std::wstring TemporaryName(const std::wstring& folder, unsigned attempt) {
  static unsigned counter = 0;
  const unsigned long tag = (::GetCurrentProcessId() << 12) ^ (++counter * 2654435761u) ^ attempt;
  wchar_t name[24];
  ::wsprintfW(name, L"~k2t%08lx.tmp", tag);
  const wchar_t last = folder.empty() ? L'\0' : folder.back();
  return folder + (last == L'\\' || last == L'/' ? L"" : L"\\") + name;
}

}  // namespace

bool AtomicWriteFile(const std::wstring& path, const void* data, std::size_t size,
                     const AtomicWriteFaults* faults) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const std::wstring target = exists ? FinalPath(path, attributes) : path;

  if (exists) {
    const unsigned long links = faults && faults->link_count ? faults->link_count : LinkCount(target);
    if (links > 1) return WriteInPlace(target, data, size);
  }

  const std::wstring folder = FolderOf(target);
  std::wstring temp;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temp = TemporaryName(folder, attempt);
    if (faults && faults->temporary_denied) {
      ::SetLastError(ERROR_ACCESS_DENIED);
    } else {
      created = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (created != INVALID_HANDLE_VALUE) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // A folder that takes no new file may still hold a file we may write.
    if (exists && error == ERROR_ACCESS_DENIED) return WriteInPlace(target, data, size);
    return false;
  }
  Handle file(created);
  if (!file.valid()) return false;
  bool ok = WriteAll(file.get(), data, size);
  if (ok) ok = ::FlushFileBuffers(file.get()) != 0;
  if (!file.Close()) ok = false;
  if (ok && faults && faults->fail_before_replace) ok = false;
  if (ok && exists) {
    ok = ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != 0;
    // A file system without ReplaceFile's bookkeeping still renames.
    if (!ok) ok = ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  } else if (ok) {
    ok = ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  // ReplaceFileW can fail after removing the target; the temporary file is
  // then the only copy of the profile and stays.
  if (!ok && (!exists || ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES))
    ::DeleteFileW(temp.c_str());
  return ok;
}

}  // namespace k2t::windows
