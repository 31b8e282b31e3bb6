#include "platform/linux/qt/display_probe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace k2t::linux_platform::qt {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool Usable(std::string_view entry, const DisplayChecks& checks) {
  const std::string name = Lower(entry.substr(0, entry.find(':')));
  if (name.empty() || !checks.plugin_available(name)) return false;
  if (name == "xcb") return checks.x_server_reachable();
  if (name.starts_with("wayland")) return checks.wayland_reachable();
  return true;
}

// Folders Qt searches for platform plugins.
QStringList PlatformPluginFolders() {
  QStringList folders;
  const QString own = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH"));
  if (!own.isEmpty()) folders << own;
  const QString plugin_path = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH"));
  for (const QString& folder : plugin_path.split(QDir::listSeparator(), Qt::SkipEmptyParts))
    folders << folder + QStringLiteral("/platforms");
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
  return folders;
}

bool PlatformPluginAvailable(std::string_view name) {
  const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  for (const QString& folder : PlatformPluginFolders()) {
    const QDir dir(folder);
    for (const QString& file : dir.entryList(QDir::Files)) {
      // Reads the plug-in's metadata without loading it.
      const QJsonObject meta = QPluginLoader(dir.filePath(file)).metaData();
      const QJsonArray keys = meta.value(QStringLiteral("MetaData")).toObject().value(QStringLiteral("Keys")).toArray();
      for (const auto& key : keys)
        if (key.toString().compare(wanted, Qt::CaseInsensitive) == 0) return true;
    }
  }
  return false;
}

bool XServerReachable() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reachable = connection && xcb_connection_has_error(connection) == 0;
  if (connection) xcb_disconnect(connection);
  return reachable;
}

bool WaylandReachable() {
  const std::string display = Env("WAYLAND_DISPLAY");
  std::string path = display;
  if (!display.starts_with('/')) {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + display;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool reachable = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return reachable;
}

}  // namespace

DisplayEnvironment DisplayEnvironment::FromProcess() {
  return {Env("QT_QPA_PLATFORM"), Env("DISPLAY"), Env("WAYLAND_DISPLAY"), Env("XDG_SESSION_TYPE")};
}

std::optional<std::string> ChooseQtPlatform(const DisplayEnvironment& env, const DisplayChecks& checks) {
  std::vector<std::string> candidates;
  if (!env.qpa_platform.empty()) {
    std::string_view rest = env.qpa_platform;
    while (!rest.empty()) {
      const std::size_t end = rest.find(';');
      const std::string_view entry = rest.substr(0, end);
      if (!entry.empty()) candidates.emplace_back(entry);
      rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
  } else {
    if (!env.display.empty()) candidates.emplace_back("xcb");
    if (!env.wayland_display.empty()) {
      const bool wayland_session = Lower(env.session_type) == "wayland";
      candidates.insert(wayland_session ? candidates.begin() : candidates.end(), "wayland");
    }
  }
  for (const std::string& candidate : candidates)
    if (Usable(candidate, checks)) return candidate;
  return std::nullopt;
}

DisplayChecks SystemDisplayChecks() { return {PlatformPluginAvailable, XServerReachable, WaylandReachable}; }

}  // namespace k2t::linux_platform::qt
