#include "platform/linux/profile_document.h"
#include "support/fakes.h"

namespace k2t::testing {

std::unique_ptr<XmlDocument> NewTestDocument() { return std::make_unique<linux_platform::ProfileDocument>(); }

}  // namespace k2t::testing
