#include "platform/linux/pugixml_document.h"
#include "support/fakes.h"

namespace k2t::testing {

std::unique_ptr<XmlDocument> NewTestDocument() { return std::make_unique<linux_platform::PugiXmlDocument>(); }

}  // namespace k2t::testing
