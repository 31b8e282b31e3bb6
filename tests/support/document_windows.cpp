#include "platform/windows/profile_document.h"
#include "support/fakes.h"

namespace k2t::testing {

std::unique_ptr<XmlDocument> NewTestDocument() { return windows_platform::MsxmlDocument::Create(); }

}  // namespace k2t::testing
