// The configuration dialog inside a host process that may know nothing of Qt.
#include <dlfcn.h>

#include <QApplication>
#include <QMessageBox>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>

#include <clocale>
#include <cstring>
#include <memory>
#include <string>

#include "config/dialog_template.h"
#include "config/propertiesdlg.h"
#include "platform/linux/config_dialog.h"
#include "platform/linux/qt/dialog_view.h"
#include "platform/linux/qt/display_probe.h"

namespace k2t::linux_platform {

namespace {

// Qt is not made to be unloaded: its libraries keep global state and exit
// handlers that would dangle once the host unloads this module. They stay
// loaded for the life of the process, from the module's own load on.
template <class F>
void PinLibraryOf(F* function) {
  void* address = nullptr;
  static_assert(sizeof address == sizeof function);
  std::memcpy(&address, &function, sizeof address);
  Dl_info info{};
  if (::dladdr(address, &info) && info.dli_fname)
    ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

[[maybe_unused]] const bool g_qt_pinned = [] {
  PinLibraryOf(&qVersion);
  PinLibraryOf(&QGuiApplication::platformName);
  PinLibraryOf(&QApplication::style);
  return true;
}();

// QApplication keeps references to its argument count and vector, so they
// outlive every application this module creates.
int g_argc = 0;
char g_arg0[] = "K2TPendant";
char g_platform_option[] = "-platform";
std::string g_platform;
char* g_argv[4] = {};

// A QApplication for the length of one dialog: the host's own when it has
// one, else one of ours on a platform checked beforehand. Qt sets the
// process locale when it starts; the host's is put back.
class QtSession {
 public:
  QtSession() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      ready_ = qobject_cast<QApplication*>(app) && app->thread() == QThread::currentThread();
      return;
    }
    const auto platform =
        qt::ChooseQtPlatform(qt::DisplayEnvironment::FromProcess(), qt::SystemDisplayChecks());
    if (!platform) return;
    locale_ = std::setlocale(LC_ALL, nullptr);
    g_platform = *platform;
    g_argv[0] = g_arg0;
    g_argv[1] = g_platform_option;
    g_argv[2] = g_platform.data();
    g_argv[3] = nullptr;
    g_argc = 3;
    app_ = std::make_unique<QApplication>(g_argc, g_argv);
    std::setlocale(LC_ALL, locale_.c_str());
    ready_ = true;
  }
  ~QtSession() {
    if (!app_) return;
    app_.reset();
    std::setlocale(LC_ALL, locale_.c_str());
  }
  QtSession(const QtSession&) = delete;
  QtSession& operator=(const QtSession&) = delete;

  bool ready() const { return ready_; }

 private:
  std::unique_ptr<QApplication> app_;
  std::string locale_;
  bool ready_ = false;
};

}  // namespace

bool RunConfigDialogOnLinux(PendantSettings& settings, const std::function<void()>& every_poll_period) {
  QtSession session;
  if (!session.ready()) return false;
  // In a Qt host, the active window owns the dialog (null with our own application).
  qt::QtDialogView view(PropertiesDialogTemplate(), QApplication::activeWindow());
  propertiesdlg dialog(settings, view);
  // The host's loop waits inside this call; the pendant must not, or its
  // E-stop and display would stop while the dialog is open.
  QTimer poll;
  if (every_poll_period) {
    poll.setInterval(25);
    QObject::connect(&poll, &QTimer::timeout, every_poll_period);
    poll.start();
  }
  view.Run(dialog);
  return true;
}

bool ShowMessageOnLinux(std::string_view message) {
  QtSession session;
  if (!session.ready()) return false;
  QMessageBox box(QMessageBox::Warning, QString(),
                  QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
  return true;
}

}  // namespace k2t::linux_platform
