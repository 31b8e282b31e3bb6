#include "platform/linux/qt/dialog_view.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

#include <limits>

// Resources live in a static library: their registration has to be pulled in
// by name, from the global namespace.
static void InitDialogResources() { Q_INIT_RESOURCE(k2t_dialog); }

namespace k2t::linux_platform::qt {

namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Rounded a * b / c, as dialog units are converted on the system the template
// comes from.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

// The template names a Windows font family; its place is taken by the
// platform's general user-interface font at the template's size.
QFont TemplateFont(const DialogTemplate& dialog) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(dialog.point_size);
  return font;
}

}  // namespace

DialogUnits DialogUnits::Of(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the 52 letters, rounded.
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnits::ToPixels(const DialogRect& r) const {
  const int left = MulDiv(r.x, base_x, 4);
  const int top = MulDiv(r.y, base_y, 8);
  return QRect(left, top, MulDiv(r.right(), base_x, 4) - left, MulDiv(r.bottom(), base_y, 8) - top);
}

QSize DialogUnits::ToPixels(int width, int height) const {
  return {MulDiv(width, base_x, 4), MulDiv(height, base_y, 8)};
}

QtDialogView::QtDialogView(const DialogTemplate& dialog, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
  InitDialogResources();
  setFont(TemplateFont(dialog));
  units_ = DialogUnits::Of(font());
  setWindowTitle(QString());
  setModal(true);
  setFixedSize(units_.ToPixels(dialog.width, dialog.height));

  QButtonGroup* radio_group = nullptr;
  // Template order is creation order: later controls lie above earlier ones
  // (frames under their contents) and the focus chain follows it.
  for (const ControlTemplate& c : dialog.controls) {
    QWidget* widget = nullptr;
    const QString text = FromUtf8(c.text);
    switch (c.kind) {
      case ControlKind::kFrame:
        widget = new QGroupBox(this);
        break;
      case ControlKind::kText: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        const Qt::Alignment horizontal = (c.style & kStyleCentred) ? Qt::AlignHCenter
                                         : (c.style & kStyleRight) ? Qt::AlignRight
                                                                   : Qt::AlignLeft;
        label->setAlignment(horizontal | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::kPicture: {
        auto* label = new QLabel(this);
        const QPixmap pixmap(QStringLiteral(":/k2t/bitmaps/%1.png").arg(c.bitmap));
        if (!pixmap.isNull())
          label->setPixmap(pixmap.scaled(units_.ToPixels(c.rect).size(), Qt::KeepAspectRatio,
                                         Qt::SmoothTransformation));
        label->setAlignment(Qt::AlignCenter);
        widget = label;
        break;
      }
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(this);
        // Any length: a description longer than the pendant shows is kept whole.
        edit->setMaxLength(std::numeric_limits<int>::max());
        if (c.style & kStyleCentred) edit->setAlignment(Qt::AlignCenter);
        widget = edit;
        break;
      }
      case ControlKind::kList: {
        // A list, not a text field: typing selects the item that begins
        // with what was typed, and the setting is the selected item's place.
        auto* list = new QComboBox(this);
        list->setEditable(false);
        list->setMaxVisibleItems(20);
        sorted_lists_[c.id] = (c.style & kStyleSorted) != 0;
        widget = list;
        break;
      }
      case ControlKind::kCheckBox:
        widget = new QCheckBox(text, this);
        break;
      case ControlKind::kRadioButton: {
        if (!radio_group || (c.style & kStyleGroupStart)) radio_group = new QButtonGroup(this);
        auto* radio = new QRadioButton(text, this);
        radio_group->addButton(radio);
        widget = radio;
        break;
      }
      case ControlKind::kPushButton: {
        auto* button = new QPushButton(text, this);
        button->setDefault((c.style & kStyleDefault) != 0);
        button->setAutoDefault(true);
        if (c.id == dlg::kOk)
          connect(button, &QPushButton::clicked, this, [this] {
            if (events_) events_->OnOK();
          });
        widget = button;
        break;
      }
    }
    widget->setGeometry(units_.ToPixels(c.rect));
    if (c.id != kNoControlId) controls_[c.id] = widget;
  }
}

QtDialogView::~QtDialogView() = default;

QWidget* QtDialogView::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

// Null for an unknown identifier or a control of another kind; callers then
// do nothing rather than stop the host.
template <class W>
W* QtDialogView::As(int id) const {
  return qobject_cast<W*>(Control(id));
}

void QtDialogView::Open(DialogEvents& events) {
  events_ = &events;
  events.OnInitDialog();
  FitListPopups();
  show();
  raise();
  activateWindow();
  if (QWidget* ok = Control(dlg::kOk)) ok->setFocus(Qt::ActiveWindowFocusReason);
}

DialogResult QtDialogView::Run(DialogEvents& events) {
  Open(events);
  return exec() == QDialog::Accepted ? DialogResult::kOk : DialogResult::kCancel;
}

void QtDialogView::FitListPopups() {
  // A drop-down shows its items whole even where the closed field is narrower.
  for (const auto& [id, widget] : controls_) {
    if (auto* list = qobject_cast<QComboBox*>(widget)) {
      QAbstractItemView* view = list->view();
      view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth() + 8);
    }
  }
}

std::string QtDialogView::Text(int id) {
  auto* edit = As<QLineEdit>(id);
  return edit ? edit->text().toStdString() : std::string();
}

void QtDialogView::SetText(int id, std::string_view text) {
  if (auto* edit = As<QLineEdit>(id)) edit->setText(FromUtf8(text));
}

bool QtDialogView::Checked(int id) {
  auto* button = As<QAbstractButton>(id);
  return button && button->isChecked();
}

void QtDialogView::SetChecked(int id, bool on) {
  if (auto* button = As<QAbstractButton>(id)) button->setChecked(on);
}

void QtDialogView::ClearList(int id) {
  if (auto* list = As<QComboBox>(id)) list->clear();
}

void QtDialogView::AddToList(int id, std::string_view shown) {
  auto* list = As<QComboBox>(id);
  if (!list) return;
  const QString item = FromUtf8(shown);
  int at = list->count();
  if (sorted_lists_[id]) {
    // A sorted list places each new item before the first greater one.
    at = 0;
    while (at < list->count() && QString::compare(list->itemText(at), item, Qt::CaseInsensitive) <= 0) ++at;
  }
  list->insertItem(at, item);
}

void QtDialogView::SelectInList(int id, int position) {
  auto* list = As<QComboBox>(id);
  if (!list) return;
  list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

int QtDialogView::Selection(int id) {
  auto* list = As<QComboBox>(id);
  return list ? list->currentIndex() : -1;
}

int QtDialogView::ListCount(int id) {
  auto* list = As<QComboBox>(id);
  return list ? list->count() : 0;
}

void QtDialogView::ShowWarning(std::string_view message) {
  QMessageBox box(QMessageBox::Warning, QString(), FromUtf8(message), QMessageBox::Ok, this);
  box.exec();
}

void QtDialogView::FocusAndSelectAll(int id) {
  QWidget* widget = Control(id);
  if (!widget) return;
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void QtDialogView::EndDialog(DialogResult result) {
  QDialog::done(result == DialogResult::kOk ? QDialog::Accepted : QDialog::Rejected);
}

void QtDialogView::reject() {
  if (events_) events_->OnCancel();
  else QDialog::reject();
}

}  // namespace k2t::linux_platform::qt
