// What the core needs from the platform it runs on, beyond the host's
// callbacks and records: the hidden window's ports, XML documents, the
// module's own file name, the configuration dialog and the layout of the
// host's message line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "link/hid.h"
#include "plugin/host.h"
#include "settings/xml_document.h"

namespace k2t {

class DrovikWin;
struct PendantSettings;

class Platform {
 public:
  virtual ~Platform() = default;
  // The HID bus the window searches and opens, and the window's timer and
  // device notices, delivered to `window`; host_window is InitControl's
  // fourth argument.
  virtual WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) = 0;
  // A document for one profile store; null when no XML service is available.
  virtual std::unique_ptr<XmlDocument> CreateXmlDocument() = 0;
  // The loaded module's file name without its folder, extension included.
  // Only the platform knows what separates folders in its paths.
  virtual std::string ModuleFileName() = 0;
  // Shows the configuration dialog modally over `settings`, which it changes
  // only when the user confirms with every value valid.
  virtual void RunConfigDialog(PendantSettings& settings) = 0;
  // A modal message with a warning icon, owned by the host's active window;
  // nothing where no message can be shown.
  virtual void ShowMessage(std::string_view /*message*/) {}
  // How the host's message line is written; a char[256] unless the host
  // keeps it otherwise.
  virtual MessageLineWriter HostMessageLine() { return &WriteFixedMessageLine; }
};

}  // namespace k2t
