// The Qt view of the configuration dialog, driven as a user would: keys,
// clicks, list choices, message boxes. Runs on the offscreen platform.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <map>

#include "config/dialog_template.h"
#include "config/propertiesdlg.h"
#include "platform/linux/config_dialog.h"
#include "platform/linux/qt/dialog_view.h"
#include "settings/profile_store.h"
#include "support/dialog_defaults.h"

namespace k2t::linux_platform::qt {
namespace {

// A dialog opened over settings, as Config opens it.
struct OpenDialog {
  explicit OpenDialog(PendantSettings initial = test_support::DialogDefaults())
      : settings(std::move(initial)), before(settings) {}
  bool Show() {
    view.Open(dialog);
    return QTest::qWaitForWindowActive(&view);
  }
  template <class W>
  W* Get(int id) {
    return qobject_cast<W*>(view.Control(id));
  }

  PendantSettings settings;
  const PendantSettings before;
  QtDialogView view{PropertiesDialogTemplate()};
  propertiesdlg dialog{settings, view};
};

// Replaces the whole text of a box by typing.
void TypeInto(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

// Moves a list's selection with the arrow keys.
bool ChooseWithKeys(QComboBox* list, int position) {
  list->setFocus();
  for (int step = 0; step <= list->count() && list->currentIndex() != position; ++step)
    QTest::keyClick(list, list->currentIndex() < position ? Qt::Key_Down : Qt::Key_Up);
  return list->currentIndex() == position;
}

// Picks an item from the open drop-down with the mouse.
bool ChooseWithMouse(QComboBox* list, int position) {
  list->showPopup();
  QAbstractItemView* items = list->view();
  if (!QTest::qWaitForWindowExposed(items->window())) return false;
  const QModelIndex index = items->model()->index(position, 0);
  items->scrollTo(index);
  const QPoint at = items->visualRect(index).center();
  QTest::mouseClick(items->viewport(), Qt::LeftButton, {}, at);
  return list->currentIndex() == position;
}

// Clicks a check box or radio button on its indicator.
void ClickButton(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

struct SeenMessage {
  bool seen = false;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// Closes the next message box with its OK button once it is up, noting what
// it said.
void CloseNextMessageBox(SeenMessage* seen, int tries = 50) {
  QTimer::singleShot(0, [seen, tries] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      if (tries > 0) CloseNextMessageBox(seen, tries - 1);
      return;
    }
    seen->seen = true;
    seen->text = box->text();
    seen->icon = box->icon();
    seen->buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
}

}  // namespace

class QtDialogViewTest : public QObject {
  Q_OBJECT

 private slots:
  void BuildsEveryControlFromTheTemplate();
  void TypedChosenAndTickedValuesReachTheSettings();
  void EnterConfirmsAtOnce();
  void FailingCheckShowsAWarningAndFocusesTheBox_data();
  void FailingCheckShowsAWarningAndFocusesTheBox();
  void EscapeAndTheCloseBoxCancel_data();
  void EscapeAndTheCloseBoxCancel();
  void OpensWithoutSelectionForAStoredPositionOutsideTheList();
  void TypingInAListSelectsByTheBeginning_data();
  void TypingInAListSelectsByTheBeginning();
  void TextsKeepTheirCharacters();
  void Screenshot();
  void RunsInAQtHostOverItsActiveWindow();
};

void QtDialogViewTest::BuildsEveryControlFromTheTemplate() {
  OpenDialog d;
  QVERIFY(d.Show());
  const DialogUnits& u = d.view.units();
  QVERIFY(u.base_x > 0 && u.base_y > 0);
  QCOMPARE(d.view.size(), u.ToPixels(733, 425));
  QVERIFY(d.view.windowFlags() & Qt::WindowStaysOnTopHint);
  QVERIFY(d.view.isModal());
  QVERIFY(d.view.windowTitle().isEmpty());

  int pictures = 0, frames = 0;
  for (const ControlTemplate& c : PropertiesDialogTemplate().controls) {
    if (c.id == kNoControlId) {
      if (c.kind == ControlKind::kPicture) ++pictures;
      if (c.kind == ControlKind::kFrame) ++frames;
      continue;
    }
    QWidget* w = d.view.Control(c.id);
    QVERIFY2(w, qPrintable(QString::number(c.id)));
    QCOMPARE(w->geometry(), u.ToPixels(c.rect));
    QVERIFY(w->isVisible());
    const QString text = QString::fromUtf8(c.text.data(), static_cast<qsizetype>(c.text.size()));
    switch (c.kind) {
      case ControlKind::kEdit:
        QVERIFY(qobject_cast<QLineEdit*>(w));
        QCOMPARE(bool(qobject_cast<QLineEdit*>(w)->alignment() & Qt::AlignHCenter),
                 bool(c.style & kStyleCentred));
        break;
      case ControlKind::kList:
        QVERIFY(qobject_cast<QComboBox*>(w));
        QVERIFY(!qobject_cast<QComboBox*>(w)->isEditable());
        break;
      case ControlKind::kCheckBox:
        QVERIFY(qobject_cast<QCheckBox*>(w));
        QCOMPARE(qobject_cast<QCheckBox*>(w)->text(), text);
        break;
      case ControlKind::kRadioButton:
        QVERIFY(qobject_cast<QRadioButton*>(w));
        QCOMPARE(qobject_cast<QRadioButton*>(w)->text(), text);
        break;
      case ControlKind::kPushButton:
        QVERIFY(qobject_cast<QPushButton*>(w));
        QCOMPARE(qobject_cast<QPushButton*>(w)->text(), text);
        break;
      default:
        QFAIL("identified control of a static kind");
    }
  }
  // Every picture shows its bitmap, inside its rectangle.
  int shown = 0;
  for (QLabel* label : d.view.findChildren<QLabel*>()) {
    if (label->pixmap().isNull()) continue;
    ++shown;
    QVERIFY(label->pixmap().width() <= label->width() && label->pixmap().height() <= label->height());
    QVERIFY(label->pixmap().width() >= label->width() - 2 || label->pixmap().height() >= label->height() - 2);
  }
  QCOMPARE(pictures, 11);
  QCOMPARE(shown, pictures);
  QCOMPARE(static_cast<int>(d.view.findChildren<QGroupBox*>().size()), frames);
}

void QtDialogViewTest::TypedChosenAndTickedValuesReachTheSettings() {
  OpenDialog d;
  QVERIFY(d.Show());
  TypeInto(d.Get<QLineEdit>(4162), "70000");
  TypeInto(d.Get<QLineEdit>(4171), "0.0005");
  TypeInto(d.Get<QLineEdit>(4201), "250");
  TypeInto(d.Get<QLineEdit>(4216), "12abc");
  TypeInto(d.Get<QLineEdit>(4181), "300");
  TypeInto(d.Get<QLineEdit>(4240), "100000");
  const QString twenty = QStringLiteral("Mist and flood on/of");
  QCOMPARE(twenty.size(), 20);
  TypeInto(d.Get<QLineEdit>(4169), twenty);
  QVERIFY(ChooseWithKeys(d.Get<QComboBox>(4037), 9));
  QVERIFY(ChooseWithKeys(d.Get<QComboBox>(4023), 0));
  QVERIFY(ChooseWithMouse(d.Get<QComboBox>(4041), 52));
  QVERIFY(ChooseWithMouse(d.Get<QComboBox>(4034), 0));
  QVERIFY(ChooseWithKeys(d.Get<QComboBox>(4021), 0));
  ClickButton(d.Get<QCheckBox>(4243));
  ClickButton(d.Get<QCheckBox>(4247));
  ClickButton(d.Get<QCheckBox>(4186));
  // The two radio pairs are separate groups.
  ClickButton(d.Get<QRadioButton>(4035));
  ClickButton(d.Get<QRadioButton>(4159));
  QVERIFY(d.Get<QRadioButton>(4035)->isChecked());
  QVERIFY(!d.Get<QRadioButton>(4161)->isChecked());

  QTest::mouseClick(d.Get<QPushButton>(1), Qt::LeftButton);
  QCOMPARE(d.view.result(), int(QDialog::Accepted));
  QVERIFY(!d.view.isVisible());

  PendantSettings expected = d.before;
  expected.macroNumber[1] = 4464;
  expected.stepSize[1] = "0.0005";
  expected.feedOverride[4] = 250;
  expected.slowJogRate[1] = 12;
  expected.delaySteps = 300;
  expected.spindleSpeed[7] = 100000;
  expected.functionKeyLabel[1] = twenty.toStdString();
  expected.velocityIndex = 9;
  expected.slowDownIndex = 0;
  expected.functionKeyAction[1] = 52;
  expected.screenSelection[3] = 0;
  expected.droDigitsIndex = 0;
  expected.includeBAxis = true;
  expected.reverseZ = true;
  expected.displaySpindleRpm = true;
  expected.useFeedRate = true;
  expected.useSpindleSpeed = true;
  QVERIFY(d.settings == expected);
}

void QtDialogViewTest::EnterConfirmsAtOnce() {
  PendantSettings start = test_support::DialogDefaults();
  start.macroNumber[2] = 77;
  OpenDialog d(start);
  QVERIFY(d.Show());
  QCOMPARE(QApplication::focusWidget(), d.view.Control(1));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QCOMPARE(d.view.result(), int(QDialog::Accepted));
  QVERIFY(!d.view.isVisible());
  QVERIFY(d.settings == d.before);
}

void QtDialogViewTest::FailingCheckShowsAWarningAndFocusesTheBox_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("message");
  QTest::newRow("FRO 251") << 4198 << "251" << "Please enter an integer between 0 and 250.";
  QTest::newRow("SRO -5") << 4229 << "-5" << "Please enter an integer between 0 and 250.";
  QTest::newRow("slow jog 101") << 4220 << "101" << "Please enter an integer between 0 and 100.";
  QTest::newRow("slow jog empty") << 4216 << "" << "Please enter an integer.";
  QTest::newRow("macro letters") << 4185 << "abc" << "Please enter an integer.";
  QTest::newRow("FRO beyond 32 bits") << 4198 << "4294967297" << "Please enter an integer between 0 and 250.";
  QTest::newRow("spindle speed beyond 32 bits") << 4234 << "3000000000" << "Please enter an integer.";
}

void QtDialogViewTest::FailingCheckShowsAWarningAndFocusesTheBox() {
  QFETCH(int, id);
  QFETCH(QString, typed);
  QFETCH(QString, message);
  OpenDialog d;
  QVERIFY(d.Show());
  QLineEdit* box = d.Get<QLineEdit>(id);
  TypeInto(d.Get<QLineEdit>(4163), "99");  // an earlier, valid change
  TypeInto(box, typed);
  d.view.Control(1)->setFocus();

  SeenMessage seen;
  CloseNextMessageBox(&seen);
  QTest::mouseClick(d.Get<QPushButton>(1), Qt::LeftButton);
  QVERIFY(seen.seen);
  QCOMPARE(seen.text, message);
  QCOMPARE(seen.icon, QMessageBox::Warning);
  QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  QVERIFY(d.view.isVisible());
  QCOMPARE(d.view.result(), 0);
  QCOMPARE(d.view.focusWidget(), static_cast<QWidget*>(box));
  QCOMPARE(box->selectedText(), typed);
  QVERIFY(d.settings == d.before);

  // Corrected, the same dialog confirms with both changes.
  TypeInto(box, "7");
  QTest::mouseClick(d.Get<QPushButton>(1), Qt::LeftButton);
  QCOMPARE(d.view.result(), int(QDialog::Accepted));
  QCOMPARE(d.settings.macroNumber[2], 99);
}

void QtDialogViewTest::EscapeAndTheCloseBoxCancel_data() {
  QTest::addColumn<bool>("escape");
  QTest::newRow("Escape") << true;
  QTest::newRow("close box") << false;
}

void QtDialogViewTest::EscapeAndTheCloseBoxCancel() {
  QFETCH(bool, escape);
  OpenDialog d;
  bool acted = false;
  // The modal run: the user changes values, then leaves.
  QTimer::singleShot(0, [&] {
    acted = true;
    TypeInto(d.Get<QLineEdit>(4162), "5");
    ClickButton(d.Get<QCheckBox>(4180));
    ClickButton(d.Get<QRadioButton>(4035));
    if (escape) QTest::keyClick(d.Get<QLineEdit>(4162), Qt::Key_Escape);
    else d.view.close();
  });
  const DialogResult result = d.view.Run(d.dialog);
  QVERIFY(acted);
  QVERIFY(result == DialogResult::kCancel);
  QVERIFY(!d.view.isVisible());
  QVERIFY(d.settings == d.before);
}

void QtDialogViewTest::OpensWithoutSelectionForAStoredPositionOutsideTheList() {
  PendantSettings start = test_support::DialogDefaults();
  start.screenSelection[2] = 9;
  start.functionKeyAction[0] = 2;
  OpenDialog d(start);
  QVERIFY(d.Show());
  QCOMPARE(d.Get<QComboBox>(4033)->currentIndex(), -1);
  QCOMPARE(d.Get<QComboBox>(4033)->count(), 7);
  QCOMPARE(d.Get<QComboBox>(4040)->currentText(), QStringLiteral(" OEM Button #1"));
  QCOMPARE(d.Get<QComboBox>(4037)->currentText(), QStringLiteral("3"));
  // Tabs show as spaces: the function list's "ZeroAll" is not an empty line.
  QCOMPARE(d.Get<QComboBox>(4040)->itemText(52), QStringLiteral(" ZeroAll") + QString(10, ' '));
  QTest::mouseClick(d.Get<QPushButton>(1), Qt::LeftButton);
  QCOMPARE(d.view.result(), int(QDialog::Accepted));
  QCOMPARE(d.settings.screenSelection[2], std::int16_t{-1});
  QCOMPARE(d.settings.functionKeyAction[0], std::int16_t{2});
}

void QtDialogViewTest::TypingInAListSelectsByTheBeginning_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("selected");
  QTest::newRow("velocity 77") << 4037 << "77" << 6;
  QTest::newRow("velocity 10") << 4037 << "10" << 9;
  QTest::newRow("slow-down 3") << 4023 << "3" << 1;
  QTest::newRow("digits 2") << 4021 << "2" << 0;
  QTest::newRow("screen: nothing begins with q") << 4033 << "q" << 2;
}

// Typing into a focused list, then Enter: the item that begins with what was
// typed is the setting; no typed text is shown or kept.
void QtDialogViewTest::TypingInAListSelectsByTheBeginning() {
  QFETCH(int, id);
  QFETCH(QString, typed);
  QFETCH(int, selected);
  OpenDialog d;
  QVERIFY(d.Show());
  auto* list = d.Get<QComboBox>(id);
  QVERIFY(!list->isEditable());
  list->setFocus();
  QTest::keyClicks(list, typed);
  QCOMPARE(list->currentIndex(), selected);
  QTest::keyClick(list, Qt::Key_Return);
  QCOMPARE(d.view.result(), int(QDialog::Accepted));
  const std::map<int, int> setting = {{4037, d.settings.velocityIndex},
                                      {4023, d.settings.slowDownIndex},
                                      {4021, d.settings.droDigitsIndex},
                                      {4033, d.settings.screenSelection[2]}};
  QCOMPARE(setting.at(id), selected);
}

// UTF-8 texts show as their characters and come back as typed; a text the
// view cannot show exactly (bytes that are no UTF-8) comes back unchanged
// when left alone.
void QtDialogViewTest::TextsKeepTheirCharacters() {
  PendantSettings start = test_support::DialogDefaults();
  start.functionKeyLabel = {"", "Caf\u00e9 On", "Caf\xE9 On", "F3"};
  OpenDialog d(start);
  QVERIFY(d.Show());
  QCOMPARE(d.Get<QLineEdit>(4169)->text(), QStringLiteral("Caf\u00e9 On"));
  // As an input method enters it: the test's key events carry ASCII only.
  d.Get<QLineEdit>(4183)->setText(QStringLiteral("Fr\u00e4sen"));
  QTest::mouseClick(d.Get<QPushButton>(1), Qt::LeftButton);
  QCOMPARE(d.view.result(), int(QDialog::Accepted));
  QCOMPARE(d.settings.functionKeyLabel[1], std::string("Caf\xC3\xA9 On"));
  QCOMPARE(d.settings.functionKeyLabel[2], std::string("Caf\xE9 On"));
  QCOMPARE(d.settings.functionKeyLabel[3], std::string("Fr\xC3\xA4sen"));
}

void QtDialogViewTest::Screenshot() {
  PendantSettings start = test_support::DialogDefaults();
  start.feedOverride = {0, 10, 25, 50, 75, 100, 125, 150, 200, 250};
  start.functionKeyAction = {25, 21, 53};
  OpenDialog d(start);
  QVERIFY(d.Show());
  const QPixmap shot = d.view.grab();
  QVERIFY(shot.save(QStringLiteral(K2T_SCREENSHOT_PATH), "PNG"));
  const QImage image(QStringLiteral(K2T_SCREENSHOT_PATH));
  QCOMPARE(image.size(), d.view.units().ToPixels(733, 425));
  // Not a blank picture: the OK button's face differs from the dialog's.
  const QRect ok = d.view.Control(1)->geometry();
  QVERIFY(image.pixelColor(ok.center()) != image.pixelColor(QPoint(2, 2)) ||
          image.pixelColor(ok.topLeft() + QPoint(1, 1)) != image.pixelColor(QPoint(2, 2)));
}

// A host that is itself a Qt application: the module uses its application,
// the host's active window owns the dialog, and the application lives on.
void QtDialogViewTest::RunsInAQtHostOverItsActiveWindow() {
  QWidget host_window;
  host_window.show();
  host_window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&host_window));
  QCoreApplication* const app = QCoreApplication::instance();

  PendantSettings settings = test_support::DialogDefaults();
  QWidget* owner = nullptr;
  bool acted = false;
  QTimer::singleShot(0, [&] {
    auto* view = dynamic_cast<QtDialogView*>(QApplication::activeModalWidget());
    if (!view) return;
    acted = true;
    owner = view->parentWidget();
    TypeInto(qobject_cast<QLineEdit*>(view->Control(4181)), "300");
    QTest::mouseClick(qobject_cast<QPushButton*>(view->Control(1)), Qt::LeftButton);
  });
  QVERIFY(linux_platform::RunConfigDialogOnLinux(settings));
  QVERIFY(acted);
  QCOMPARE(owner, &host_window);
  QCOMPARE(settings.delaySteps, 300);
  QCOMPARE(QCoreApplication::instance(), app);
}

}  // namespace k2t::linux_platform::qt

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  k2t::linux_platform::qt::QtDialogViewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialog_view_test.moc"
