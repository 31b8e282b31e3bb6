// The dialog as the module runs it inside a host that has no QApplication:
// the platform choice, no display, an unreachable display, and a real modal
// run on the offscreen platform driven from Qt's own event loop.
#include <gtest/gtest.h>

#include "k2t/host_loop.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "config/propertiesdlg.h"
#include "platform/linux/config_dialog.h"
#include "platform/linux/platform.h"
#include "platform/linux/profile_document.h"
#include "platform/linux/qt/dialog_view.h"
#include "platform/linux/qt/display_probe.h"
#include "settings/profile_store.h"
#include "support/dialog_defaults.h"
#include "support/fakes.h"

namespace k2t {
namespace {

using linux_platform::RunConfigDialogOnLinux;
using linux_platform::qt::ChooseQtPlatform;
using linux_platform::qt::DisplayChecks;
using linux_platform::qt::DisplayEnvironment;
using linux_platform::qt::QtDialogView;

TEST(ChooseQtPlatform, FollowsTheEnvironmentAndWhatIsThere) {
  const struct {
    const char* name;
    DisplayEnvironment env;
    bool x_up, wayland_up;
    std::vector<std::string> plugins;
    std::optional<std::string> chosen;
  } cases[] = {
      {"nothing set", {}, true, true, {"xcb", "wayland", "offscreen"}, std::nullopt},
      {"X11", {"", ":0", "", ""}, true, false, {"xcb"}, "xcb"},
      {"X11 unreachable", {"", ":0", "", ""}, false, false, {"xcb"}, std::nullopt},
      {"X11 without its plug-in", {"", ":0", "", ""}, true, false, {"offscreen"}, std::nullopt},
      {"Wayland", {"", "", "wayland-0", ""}, false, true, {"wayland"}, "wayland"},
      {"Wayland unreachable", {"", "", "wayland-0", ""}, false, false, {"wayland"}, std::nullopt},
      {"both, X11 session", {"", ":0", "wayland-0", "x11"}, true, true, {"xcb", "wayland"}, "xcb"},
      {"both, Wayland session", {"", ":0", "wayland-0", "wayland"}, true, true, {"xcb", "wayland"},
       "wayland"},
      {"both, Wayland plug-in missing", {"", ":0", "wayland-0", "wayland"}, true, true, {"xcb"}, "xcb"},
      {"forced offscreen", {"offscreen", "", "", ""}, false, false, {"offscreen"}, "offscreen"},
      {"forced with arguments", {"offscreen:fontengine=freetype", ":0", "", ""}, true, false,
       {"offscreen", "xcb"}, "offscreen:fontengine=freetype"},
      {"forced xcb unreachable", {"xcb", ":0", "", ""}, false, false, {"xcb"}, std::nullopt},
      {"forced unknown", {"no-such", ":0", "", ""}, true, false, {"xcb"}, std::nullopt},
      {"forced list, first unusable", {"wayland;xcb", ":0", "wayland-0", ""}, true, false,
       {"xcb", "wayland"}, "xcb"},
      {"forced list, empty entries", {";;minimal;", "", "", ""}, false, false, {"minimal"}, "minimal"},
      {"forced name in capitals", {"XCB", ":0", "", ""}, true, false, {"xcb"}, "XCB"},
  };
  for (const auto& c : cases) {
    DisplayChecks checks{
        [&](std::string_view name) {
          return std::find(c.plugins.begin(), c.plugins.end(), std::string(name)) != c.plugins.end();
        },
        [&] { return c.x_up; },
        [&] { return c.wayland_up; },
    };
    EXPECT_EQ(ChooseQtPlatform(c.env, checks), c.chosen) << c.name;
  }
}

// The display variables of this process, restored afterwards.
class DisplayVariables {
 public:
  DisplayVariables() {
    for (const char* name : kNames)
      if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
    for (const char* name : kNames) ::unsetenv(name);
  }
  ~DisplayVariables() {
    for (const char* name : kNames) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                           "XDG_SESSION_TYPE", "LC_ALL"};
  std::vector<std::pair<std::string, std::string>> saved_;
};

// What the user does once the module's dialog is up, run from Qt's event loop.
std::function<void(QtDialogView&)> g_user;
int g_dialogs_seen = 0;
std::vector<std::string> g_messages;  // message boxes shown outside the dialog, each closed with OK

void ActOnDialog(int tries) {
  if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
    g_messages.push_back(box->text().toStdString());
    box->accept();
    return;
  }
  auto* view = dynamic_cast<QtDialogView*>(QApplication::activeModalWidget());
  if (!view) {
    if (tries > 0) QTimer::singleShot(0, [tries] { ActOnDialog(tries - 1); });
    return;
  }
  ++g_dialogs_seen;
  if (g_user) g_user(*view);
}

// Every application the module creates gets the user's script.
void OnApplicationCreated() {
  QTimer::singleShot(0, [] { ActOnDialog(100); });
}

class LinuxDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qAddPreRoutine(OnApplicationCreated); }
  void SetUp() override {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    g_dialogs_seen = 0;
    g_user = nullptr;
    g_messages.clear();
  }
  void TearDown() override {
    g_user = nullptr;
    // Nothing of Qt is left running in the host.
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
  }
  DisplayVariables variables_;
};

TEST_F(LinuxDialogTest, NoDisplayBehavesAsCancelled) {
  PendantSettings settings = test_support::DialogDefaults();
  const PendantSettings before = settings;
  EXPECT_FALSE(RunConfigDialogOnLinux(settings));
  EXPECT_EQ(settings, before);
  EXPECT_EQ(g_dialogs_seen, 0);
  EXPECT_FALSE(linux_platform::ShowMessageOnLinux("not shown"));
}

// Qt would end the process on either; the module must not.
TEST_F(LinuxDialogTest, UnusableDisplayBehavesAsCancelled) {
  const struct {
    const char* variable;
    const char* value;
  } cases[] = {
      {"DISPLAY", ":93"},  // no X server there
      {"WAYLAND_DISPLAY", "k2t-no-such-wayland-socket"},
      {"QT_QPA_PLATFORM", "no-such-platform"},
  };
  ASSERT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X93"));
  for (const auto& c : cases) {
    ::setenv(c.variable, c.value, 1);
    PendantSettings settings = test_support::DialogDefaults();
    const PendantSettings before = settings;
    EXPECT_FALSE(RunConfigDialogOnLinux(settings)) << c.variable;
    EXPECT_EQ(settings, before) << c.variable;
    ::unsetenv(c.variable);
  }
  EXPECT_EQ(g_dialogs_seen, 0);
}

TEST_F(LinuxDialogTest, ModalRunOnItsOwnApplicationAndTheHostLocaleKept) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Qt adopts the environment's locale when it starts; the host's stays.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);

  PendantSettings settings = test_support::DialogDefaults();
  PendantSettings expected = settings;
  expected.macroNumber[1] = 4464;
  expected.includeAAxis = true;
  g_user = [](QtDialogView& view) {
    qobject_cast<QLineEdit*>(view.Control(4162))->setText("70000");
    qobject_cast<QCheckBox*>(view.Control(4180))->click();
    qobject_cast<QPushButton*>(view.Control(1))->click();
  };
  EXPECT_TRUE(RunConfigDialogOnLinux(settings));
  EXPECT_EQ(g_dialogs_seen, 1);
  EXPECT_EQ(settings, expected);
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
  EXPECT_EQ(QCoreApplication::instance(), nullptr);

  // A second Config in the same process starts Qt again; Escape leaves it.
  g_user = [](QtDialogView& view) {
    qobject_cast<QLineEdit*>(view.Control(4162))->setText("1");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &escape);
  };
  EXPECT_TRUE(RunConfigDialogOnLinux(settings));
  EXPECT_EQ(g_dialogs_seen, 2);
  EXPECT_EQ(settings, expected);
}

// The host's loop waits inside Config; the pendant is polled meanwhile, so
// its E-stop and display keep working while the dialog is open.
TEST_F(LinuxDialogTest, PendantIsPolledWhileTheDialogIsOpen) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  struct Loop {
    static unsigned AddTimer(void*, unsigned, void (*)(void*), void*) { return 1; }
    static void RemoveTimer(void*, unsigned) {}
  };
  K2tHostLoop loop{nullptr, &Loop::AddTimer, &Loop::RemoveTimer, nullptr, nullptr};
  linux_platform::LinuxPlatform platform(&RunConfigDialogOnLinux);
  testing::FakeHost host;
  Module module(platform);
  module.InitControl(host.motion(), host.setup(), host.planner(), &loop);
  host.Install(module.host);
  module.SetProName("");
  module.PostInitControl();  // no pendant here: each tick steps the counters
  const std::int32_t before = module.window()->ActivityCountdown;
  g_user = [](QtDialogView& view) {
    QTimer::singleShot(200, &view, [&view] { qobject_cast<QPushButton*>(view.Control(1))->click(); });
  };
  module.Config();
  EXPECT_EQ(g_dialogs_seen, 1);
  EXPECT_NE(module.window()->ActivityCountdown, before);
  module.StopPlug();
}

// The exported Config's path: reload, the dialog, save every key.
TEST_F(LinuxDialogTest, ConfigShowsTheDialogBetweenReloadAndSave) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char pattern[] = "/tmp/k2t-qt-config-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  const std::string path = dir + "/profile.xml";
  std::ofstream(path) << "<profile><iTalvo_K2T_Pendant><Macro1>5</Macro1><ScreenSel2>9</ScreenSel2>"
                         "</iTalvo_K2T_Pendant></profile>";

  linux_platform::LinuxPlatform platform(&RunConfigDialogOnLinux);
  testing::FakeHost host;
  Module module(platform);
  module.InitControl(host.motion(), host.setup(), host.planner(), nullptr);
  host.Install(module.host);
  module.SetProName(path.c_str());
  module.PostInitControl();

  std::string shown_macro, shown_velocity;
  int shown_screen = 0;
  g_user = [&](QtDialogView& view) {
    shown_macro = view.Text(4162);
    shown_velocity = qobject_cast<QComboBox*>(view.Control(4037))->currentText().toStdString();
    shown_screen = view.Selection(4033);
    qobject_cast<QRadioButton*>(view.Control(4035))->click();  // "Use Feed Rate"
    qobject_cast<QPushButton*>(view.Control(1))->click();
  };
  module.Config();
  module.StopPlug();

  EXPECT_EQ(g_dialogs_seen, 1);
  EXPECT_EQ(shown_macro, "5");
  EXPECT_EQ(shown_velocity, "3");
  EXPECT_EQ(shown_screen, -1);
  std::vector<ProfileKey> keys;
  std::string reason;
  ASSERT_EQ(linux_platform::ProfileDocument().Load(path, kSettingsSection, keys, reason), XmlLoadResult::kLoaded);
  EXPECT_EQ(keys.size(), 84u);
  const auto text = [&keys](const char* name) {
    for (const ProfileKey& k : keys)
      if (k.name == name) return k.text;
    return std::string("absent");
  };
  EXPECT_EQ(text("UseFRO"), "1");
  EXPECT_EQ(text("ScreenSel2"), "-1");
  EXPECT_EQ(text("Vel"), "2");
  EXPECT_EQ(text("Macro1"), "5");
  std::filesystem::remove_all(dir);
}

// A save in Config that fails says so in a message box over the host; at
// start-up it stays silent.
TEST_F(LinuxDialogTest, FailedSaveInConfigShowsAMessage) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string path = "/tmp/k2t-no-such-folder/deeper/profile.xml";
  linux_platform::LinuxPlatform platform(&RunConfigDialogOnLinux, &linux_platform::ShowMessageOnLinux);
  Module module(platform);
  module.SetProName(path.c_str());
  module.PostInitControl();
  EXPECT_TRUE(g_messages.empty());
  g_user = [](QtDialogView& view) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &escape);
  };
  module.Config();
  EXPECT_EQ(g_dialogs_seen, 1);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_NE(g_messages[0].find(path), std::string::npos) << g_messages[0];
  EXPECT_NE(g_messages[0].find("No such file or directory"), std::string::npos) << g_messages[0];
}

}  // namespace
}  // namespace k2t
