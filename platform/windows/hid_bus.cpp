#include "platform/windows/hid_bus.h"

#include <windows.h>
#include <setupapi.h>

// The HID library's headers declare no C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/windows/ansi_text.h"

namespace k2t::windows_platform {

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE OpenPath(const std::wstring& path, DWORD access, DWORD flags) {
  return ::CreateFileW(path.c_str(), access, kShareReadWrite, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool ReadAttributes(HANDLE file, HIDD_ATTRIBUTES& attributes) {
  std::memset(&attributes, 0, sizeof attributes);
  attributes.Size = sizeof attributes;
  return ::HidD_GetAttributes(file, &attributes) != FALSE;
}

// The device's report lengths as its capabilities give them; none when they
// cannot be read.
std::optional<ReportLengths> CapsLengths(HANDLE file) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!::HidD_GetPreparsedData(file, &preparsed) || !preparsed) return std::nullopt;
  HIDP_CAPS caps{};
  const bool ok = ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  ::HidD_FreePreparsedData(preparsed);
  if (!ok) return std::nullopt;
  return ReportLengths{caps.InputReportByteLength, caps.OutputReportByteLength};
}

// The attribute probe: it reads nothing and writes nothing.
class ProbeHandle final : public HidDevice {
 public:
  explicit ProbeHandle(HANDLE file) : file_(file) {}
  ~ProbeHandle() override { ::CloseHandle(file_); }
  ReadStart StartRead() override { return ReadStart::kFailed; }
  void TakeReport(InputReport& report) override { std::memset(report, 0, sizeof report); }
  void Write(const std::uint8_t*, std::size_t) override {}

 private:
  HANDLE file_;
};

// What the kernel writes into while a transfer is outstanding: its
// OVERLAPPED and the report's buffer.
struct Transfer {
  explicit Transfer(std::size_t length) : buffer(length) {}
  OVERLAPPED overlapped{};
  std::vector<std::uint8_t> buffer;
};

// A file opened for overlapped transfers, with the manual-reset event they
// signal, and at most one transfer outstanding. Closing never waits: it may
// run on the host's GUI thread or, when the host frees the library without
// StopPlug, under the loader lock. It cancels the transfer where it can and,
// if that has not ended by the time the file is closed, leaves its buffer
// and OVERLAPPED to the kernel for good rather than free what the kernel
// still writes into.
struct OverlappedFile {
  OverlappedFile(HANDLE f, HANDLE e, std::size_t length)
      : file(f), event(e), transfer(std::make_unique<Transfer>(length)) {}
  ~OverlappedFile() {
    if (pending) {
      // CancelIo reaches only the transfers of the calling thread: the host's
      // thread, which starts them all, unless the library is freed elsewhere.
      if (::GetCurrentThreadId() == started_by) ::CancelIo(file);
      DWORD n = 0;
      if (::GetOverlappedResult(file, &transfer->overlapped, &n, FALSE) || ::GetLastError() != ERROR_IO_INCOMPLETE)
        pending = false;
    }
    ::CloseHandle(file);   // what is still outstanding ends with it
    ::CloseHandle(event);  // the kernel keeps the event object while it needs it
    if (pending) static_cast<void>(transfer.release());
  }
  OverlappedFile(const OverlappedFile&) = delete;
  OverlappedFile& operator=(const OverlappedFile&) = delete;

  // The OVERLAPPED for the next transfer, its event reset.
  OVERLAPPED* Next() {
    transfer->overlapped = OVERLAPPED{};
    transfer->overlapped.hEvent = event;
    ::ResetEvent(event);
    started_by = ::GetCurrentThreadId();
    return &transfer->overlapped;
  }
  OVERLAPPED* overlapped() { return &transfer->overlapped; }
  std::vector<std::uint8_t>& buffer() { return transfer->buffer; }

  HANDLE file;
  HANDLE event;
  std::unique_ptr<Transfer> transfer;
  DWORD started_by = 0;
  bool pending = false;
};

// Overlapped writes from a buffer of its own, never waited for: a pendant
// that stops taking output reports must not hold the host's GUI thread. While
// a write is still outstanding the next report is dropped; the tick after
// writes a fresh one. Each report goes out padded with zeros to the device's
// output report length, as HID writes must be; one longer than that is
// dropped.
class WriteHandle final : public HidDevice {
 public:
  WriteHandle(HANDLE file, HANDLE event, std::size_t length) : io_(file, event, length) {}
  ReadStart StartRead() override { return ReadStart::kFailed; }
  void TakeReport(InputReport& report) override { std::memset(report, 0, sizeof report); }
  void Write(const std::uint8_t* data, std::size_t size) override {
    std::vector<std::uint8_t>& buffer = io_.buffer();
    if (!data || size == 0 || size > buffer.size()) return;
    if (io_.pending) {
      DWORD n = 0;
      if (!::GetOverlappedResult(io_.file, io_.overlapped(), &n, FALSE) && ::GetLastError() == ERROR_IO_INCOMPLETE)
        return;  // the device has not taken the last one yet
      io_.pending = false;
    }
    std::fill(std::copy(data, data + size, buffer.begin()), buffer.end(), std::uint8_t{0});
    if (::WriteFile(io_.file, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, io_.Next())) return;
    if (::GetLastError() == ERROR_IO_PENDING) io_.pending = true;
  }

 private:
  OverlappedFile io_;
};

// Overlapped reads into a buffer of its own, never waited for. At most one
// read is outstanding: a read that completes at once is there to take; one
// that pends stays outstanding until a later tick's StartRead collects it.
class ReadHandle final : public HidDevice {
 public:
  ReadHandle(HANDLE file, HANDLE event, std::size_t length) : io_(file, event, length) {}

  ReadStart StartRead() override {
    if (have_) return ReadStart::kCompleted;
    if (io_.pending) return Collect();
    std::vector<std::uint8_t>& buffer = io_.buffer();
    if (::ReadFile(io_.file, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, io_.Next())) {
      io_.pending = true;  // completed at once: collected without waiting
      return Collect();
    }
    if (::GetLastError() != ERROR_IO_PENDING) return ReadStart::kFailed;
    io_.pending = true;
    return ReadStart::kPending;
  }

  void TakeReport(InputReport& report) override {
    std::memset(report, 0, sizeof report);
    std::memcpy(report, io_.buffer().data(), std::min<std::size_t>(received_, sizeof report));
    have_ = false;
  }

  void Write(const std::uint8_t*, std::size_t) override {}

 private:
  ReadStart Collect() {
    DWORD n = 0;
    if (!::GetOverlappedResult(io_.file, io_.overlapped(), &n, FALSE)) {
      if (::GetLastError() == ERROR_IO_INCOMPLETE) return ReadStart::kPending;
      io_.pending = false;  // ended with an error: the device is gone
      return ReadStart::kFailed;
    }
    io_.pending = false;
    if (n == 0) return ReadStart::kPending;  // nothing came; the next start reads again
    received_ = n;
    have_ = true;
    return ReadStart::kCompleted;
  }

  DWORD received_ = 0;
  bool have_ = false;
  OverlappedFile io_;
};

// The paths of the present HID interfaces, in enumeration order.
std::vector<std::wstring> InterfacePaths() {
  std::vector<std::wstring> paths;
  GUID hid_class{};
  ::HidD_GetHidGuid(&hid_class);
  HDEVINFO set = ::SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &data)) break;  // no more
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > 65536) continue;
    // DWORD-aligned storage for the detail record.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) continue;
    const std::size_t max_chars = (size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    paths.emplace_back(detail->DevicePath, wcsnlen(detail->DevicePath, max_chars));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return paths;
}

}  // namespace

std::vector<HidInterface> SetupApiBus::Enumerate() {
  std::vector<HidInterface> result;
  for (const std::wstring& wide : InterfacePaths()) {
    const std::string path = Narrow(wide);
    if (path.empty() || Widen(path) != wide) continue;  // could not be opened by this name
    HANDLE probe = OpenPath(wide, 0, 0);
    if (probe == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes;
    const bool readable = ReadAttributes(probe, attributes);
    ::CloseHandle(probe);
    if (readable) result.push_back({path, attributes.VendorID, attributes.ProductID});
  }
  return result;
}

std::unique_ptr<HidDevice> SetupApiBus::Open(const std::string& path, HidAccess access) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return nullptr;
  switch (access) {
    case HidAccess::kAttributes: {
      HANDLE file = OpenPath(wide, 0, 0);
      if (file == INVALID_HANDLE_VALUE) return nullptr;
      // Only a device whose reports can hold the pendant's is taken for it:
      // one USB device may show several HID interfaces with the same ids.
      HIDD_ATTRIBUTES attributes;
      const std::optional<ReportLengths> lengths = CapsLengths(file);
      if (!ReadAttributes(file, attributes) || !lengths || !FitsPendant(*lengths)) {
        ::CloseHandle(file);
        return nullptr;
      }
      return std::make_unique<ProbeHandle>(file);
    }
    case HidAccess::kRead:
    case HidAccess::kWrite: {
      const bool read = access == HidAccess::kRead;
      HANDLE file = OpenPath(wide, read ? GENERIC_READ : GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
      if (file == INVALID_HANDLE_VALUE) return nullptr;
      // The lengths the probe checked; the pendant's own where a handle
      // gives none (no device the probe accepted does that). A read buffer
      // may be longer than the report, a write must be exactly its length.
      const std::optional<ReportLengths> lengths = CapsLengths(file);
      if (!read) return OpenReportWriter(file, lengths ? lengths->output : kOutputReportSize);
      HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
      if (!event) {
        ::CloseHandle(file);
        return nullptr;
      }
      return std::make_unique<ReadHandle>(file, event, std::max<std::size_t>(lengths ? lengths->input : 0, kInputReportSize));
    }
  }
  return nullptr;
}

std::unique_ptr<HidDevice> OpenReportWriter(void* file, std::size_t output_length) {
  HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  if (!event) {
    ::CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<WriteHandle>(file, event, output_length);
}

bool FitsPendant(const ReportLengths& lengths) {
  return lengths.input >= kInputReportSize && lengths.output >= kOutputReportSize;
}

bool SetupApiBus::SamePath(std::string_view a, std::string_view b) const { return EqualsIgnoreCaseAnsi(a, b); }

}  // namespace k2t::windows_platform
