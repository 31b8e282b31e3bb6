#include "platform/windows/profile_document.h"

#include <windows.h>
#include <objbase.h>
#include <msxml2.h>

#include <climits>

#include "platform/windows/ansi_text.h"

namespace k2t::windows_platform {

namespace {

// mingw-w64's headers name neither DOMDocument 6.0 nor the IID of the
// document interface with setProperty.
const CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
const IID kIXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// "DOCTYPE" in the file's bytes, as ASCII-compatible text or as UTF-16.
bool MayHoldDoctype(const std::string& bytes) {
  if (bytes.find("DOCTYPE") != std::string::npos) return true;
  static const char kWideLe[] = "D\0O\0C\0T\0Y\0P\0E";
  static const char kWideBe[] = "\0D\0O\0C\0T\0Y\0P\0E";
  return bytes.find(std::string(kWideLe, sizeof kWideLe - 1)) != std::string::npos ||
         bytes.find(std::string(kWideBe, sizeof kWideBe - 1)) != std::string::npos;
}

class Bstr {
 public:
  // Element names and texts, UTF-8 as the core keeps them; null when the
  // text does not convert.
  explicit Bstr(std::string_view utf8) {
    const std::wstring wide = Widen(utf8, Encoding::kUtf8);
    if (utf8.empty() || !wide.empty()) b_ = ::SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
  }
  Bstr() = default;
  ~Bstr() { ::SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() { return &b_; }
  std::wstring_view view() const { return {b_ ? b_ : L"", b_ ? ::SysStringLen(b_) : 0u}; }

 private:
  BSTR b_ = nullptr;
};

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// The file's bytes; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (1LL << 30);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
      DWORD n = 0;
      ok = ::ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) && n > 0;
      done += n;
    }
  }
  ::CloseHandle(file);
  return ok;
}

bool OnlyWhitespace(const std::string& bytes) {
  return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
}

// A stream over a copy of bytes, positioned at its start.
IStream* StreamOver(const std::string& bytes) {
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return nullptr;
  ULONG written = 0;
  LARGE_INTEGER zero{};
  if (bytes.size() > ULONG_MAX || FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) ||
      written != bytes.size() || FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) {
    stream->Release();
    return nullptr;
  }
  return stream;
}

}  // namespace

std::unique_ptr<MsxmlDocument> MsxmlDocument::Create() {
  std::unique_ptr<MsxmlDocument> document(new MsxmlDocument());
  if (!document->CreateDocument()) return nullptr;
  return document;
}

bool MsxmlDocument::CreateDocument() {
  // A thread already in COM keeps its apartment; S_FALSE counts as an
  // initialisation to balance, RPC_E_CHANGED_MODE (another apartment mode)
  // does not.
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  com_initialised_ = SUCCEEDED(init);
  void* doc = nullptr;
  if (SUCCEEDED(::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2, &doc)) && doc) {
    version_ = 6;
  } else if (SUCCEEDED(::CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2, &doc)) &&
             doc) {
    version_ = 3;
  } else {
    return false;  // the destructor undoes the initialisation
  }
  doc_ = static_cast<IXMLDOMDocument2*>(doc);
  Configure();
  return true;
}

void MsxmlDocument::Configure() {
  // Loads finish before load returns, keep white space as it is, validate
  // nothing and fetch nothing: a profile must not make the module read other
  // files. A document type declaration is refused where MSXML can refuse it.
  doc_->put_async(VARIANT_FALSE);
  doc_->put_preserveWhiteSpace(VARIANT_TRUE);
  doc_->put_validateOnParse(VARIANT_FALSE);
  doc_->put_resolveExternals(VARIANT_FALSE);
  VARIANT on;
  ::VariantInit(&on);
  V_VT(&on) = VT_BOOL;
  V_BOOL(&on) = VARIANT_TRUE;
  Bstr prohibit_dtd("ProhibitDTD");
  dtd_prohibited_ = prohibit_dtd.get() && SUCCEEDED(doc_->setProperty(prohibit_dtd.get(), on));
}

MsxmlDocument::~MsxmlDocument() {
  ReleaseHeld();
  if (doc_) doc_->Release();
  doc_ = nullptr;
  if (com_initialised_) ::CoUninitialize();
}

void MsxmlDocument::ReleaseHeld() {
  for (IXMLDOMNode* node : held_) node->Release();
  held_.clear();
}

IXMLDOMNode* MsxmlDocument::Hold(IXMLDOMNode* node) {
  if (node) held_.push_back(node);
  return node;
}

XmlLoadResult MsxmlDocument::Load(const std::string& path, std::string_view section, std::vector<ProfileKey>& keys,
                                  std::string& reason) {
  ReleaseHeld();
  keys.clear();
  keys_.clear();
  section_ = nullptr;
  section_name_ = section;
  // Whatever an earlier load left: a new profile starts empty.
  ComPtr<IXMLDOMElement> earlier;
  if (SUCCEEDED(doc_->get_documentElement(earlier.out())) && earlier.get()) {
    ComPtr<IXMLDOMNode> removed;
    doc_->removeChild(earlier.get(), removed.out());
  }
  const std::wstring wide = Widen(path);
  if (wide.empty()) return XmlLoadResult::kMissing;
  if (::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Only a file that is not there is missing: a share that fails or a
    // file that cannot be looked at must not be replaced by a new profile.
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return XmlLoadResult::kMissing;
    reason = ErrorText(error);
    return XmlLoadResult::kUnreadable;
  }
  std::string bytes;
  if (!ReadFileBytes(wide, bytes)) {
    reason = ErrorText(::GetLastError());
    return XmlLoadResult::kUnreadable;
  }
  // An empty or blank file holds nothing that could be lost.
  if (OnlyWhitespace(bytes)) return XmlLoadResult::kMissing;
  // An MSXML that cannot refuse a document type declaration would expand
  // its entities without bound on the host's thread: such a profile is not
  // read.
  reason = "it does not parse as XML";
  if (!dtd_prohibited_ && MayHoldDoctype(bytes)) return XmlLoadResult::kUnreadable;
  // Parsed from memory: the document has no location from which a
  // reference could be resolved.
  IStream* stream = StreamOver(bytes);
  if (!stream) return XmlLoadResult::kUnreadable;
  VARIANT source;
  ::VariantInit(&source);
  V_VT(&source) = VT_UNKNOWN;
  V_UNKNOWN(&source) = stream;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = doc_->load(source, &loaded);
  stream->Release();
  ComPtr<IXMLDOMElement> root;
  if (FAILED(hr) || loaded != VARIANT_TRUE) {
    ComPtr<IXMLDOMParseError> error;
    Bstr words;
    long line = 0;
    if (SUCCEEDED(doc_->get_parseError(error.out())) && error.get() && SUCCEEDED(error->get_reason(words.out())) &&
        words.get() && SUCCEEDED(error->get_line(&line))) {
      reason = SystemWords(words.view()) + " (line " + std::to_string(line) + ")";
    }
    // What a failed parse leaves behind is not the file's content.
    if (SUCCEEDED(doc_->get_documentElement(root.out())) && root.get()) {
      ComPtr<IXMLDOMNode> removed;
      doc_->removeChild(root.get(), removed.out());
    }
    return XmlLoadResult::kUnreadable;
  }
  reason.clear();
  if (FAILED(doc_->get_documentElement(root.out())) || !root.get()) return XmlLoadResult::kLoaded;
  section_ = FirstChildElement(root.get(), section);
  IXMLDOMNode* child = nullptr;
  if (!section_ || FAILED(section_->get_firstChild(&child))) return XmlLoadResult::kLoaded;
  while (child) {
    DOMNodeType type = NODE_INVALID;
    Bstr name, text;
    if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT && SUCCEEDED(child->get_nodeName(name.out())) &&
        SUCCEEDED(child->get_text(text.out()))) {
      child->AddRef();
      keys_.push_back(Hold(child));
      keys.push_back({Narrow(name.view(), Encoding::kUtf8), Narrow(text.view(), Encoding::kUtf8)});
    }
    IXMLDOMNode* next = nullptr;
    if (FAILED(child->get_nextSibling(&next))) next = nullptr;
    child->Release();
    child = next;
  }
  return XmlLoadResult::kLoaded;
}

IXMLDOMNode* MsxmlDocument::FirstChildElement(IXMLDOMNode* parent, std::string_view name) {
  const std::wstring wanted = Widen(name, Encoding::kUtf8);
  IXMLDOMNode* child = nullptr;
  if (FAILED(parent->get_firstChild(&child))) return nullptr;
  while (child) {
    DOMNodeType type = NODE_INVALID;
    if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT) {
      Bstr child_name;
      if (SUCCEEDED(child->get_nodeName(child_name.out())) && child_name.view() == wanted) return Hold(child);
    }
    IXMLDOMNode* next = nullptr;
    if (FAILED(child->get_nextSibling(&next))) next = nullptr;
    child->Release();
    child = next;
  }
  return nullptr;
}

// parent null: the document element.
IXMLDOMNode* MsxmlDocument::AppendChildElement(IXMLDOMNode* parent, std::string_view name) {
  ComPtr<IXMLDOMElement> element;
  Bstr tag(name);
  if (!tag.get() || FAILED(doc_->createElement(tag.get(), element.out())) || !element.get()) return nullptr;
  IXMLDOMNode* appended = nullptr;
  const HRESULT hr = parent ? parent->appendChild(element.get(), &appended) : doc_->appendChild(element.get(), &appended);
  return SUCCEEDED(hr) ? Hold(appended) : nullptr;
}

bool MsxmlDocument::Apply(const std::vector<ProfileKey>& keys) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const ProfileKey& key = keys[i];
    IXMLDOMNode* node = i < keys_.size() ? keys_[i] : nullptr;
    if (key.state == ProfileKey::State::kAdded) {
      if (!section_) {
        ComPtr<IXMLDOMElement> root;
        IXMLDOMNode* parent = nullptr;
        if (SUCCEEDED(doc_->get_documentElement(root.out())) && root.get()) parent = root.get();
        else parent = AppendChildElement(nullptr, "profile");
        section_ = parent ? AppendChildElement(parent, section_name_) : nullptr;
        if (!section_) return false;
      }
      node = AppendChildElement(section_, key.name);
      if (!node) return false;
    }
    if (!node) continue;
    if (key.state == ProfileKey::State::kRemoved) {
      ComPtr<IXMLDOMNode> removed;
      if (FAILED(section_->removeChild(node, removed.out()))) return false;
    } else if (key.state != ProfileKey::State::kAsLoaded) {
      // Replaces the element's children with one text (none when empty).
      Bstr value(key.text);
      if (!value.get() || FAILED(node->put_text(value.get()))) return false;
    }
  }
  return true;
}

bool MsxmlDocument::Serialize(std::string& bytes) {
  ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.out())) || !stream.get()) return false;
  VARIANT target;
  ::VariantInit(&target);
  V_VT(&target) = VT_UNKNOWN;
  V_UNKNOWN(&target) = stream.get();
  if (FAILED(doc_->save(target))) return false;
  STATSTG stat{};
  HGLOBAL memory = nullptr;
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(::GetHGlobalFromStream(stream.get(), &memory)) ||
      stat.cbSize.QuadPart > (1ULL << 30))
    return false;
  const std::size_t size = static_cast<std::size_t>(stat.cbSize.QuadPart);
  if (size == 0) {
    bytes.clear();
    return true;
  }
  const void* data = ::GlobalLock(memory);
  if (!data) return false;
  bytes.assign(static_cast<const char*>(data), size);
  ::GlobalUnlock(memory);
  return true;
}

bool MsxmlDocument::Save(const std::string& path, const std::vector<ProfileKey>& keys, ProfileSaveError& error) {
  const std::wstring wide = Widen(path);
  error.file = Narrow(wide, Encoding::kUtf8);
  // A new profile holds at least its document element.
  ComPtr<IXMLDOMElement> root;
  if ((FAILED(doc_->get_documentElement(root.out())) || !root.get()) && !AppendChildElement(nullptr, "profile")) {
    error.reason = "MSXML could not make the document";
    return false;
  }
  std::string bytes;
  if (!Apply(keys) || !Serialize(bytes) || bytes.empty()) {
    error.reason = "MSXML could not write the document";
    return false;
  }
  unsigned long failure = 0;
  if (!wide.empty() && AtomicWriteFile(wide, bytes.data(), bytes.size(), &faults_, &failure)) return true;
  error.reason = ErrorText(wide.empty() ? ERROR_PATH_NOT_FOUND : failure);
  return false;
}

}  // namespace k2t::windows_platform
