#include "app/qt_dialog_ui.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <algorithm>

namespace krt {
namespace {

constexpr int kPortList = 130;
constexpr int kSpeedList = 131;
constexpr int kIpAddressBox = 113;
constexpr int kSubnetMaskBox = 120;
constexpr int kGatewayBox = 121;
constexpr int kSerialNumberText = 118;
constexpr int kMacAddressText = 122;
constexpr int kStatusLine = 111;

constexpr int kLimit = static_cast<int>(kAddressTextLimit);

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kNone:
      return QMessageBox::NoIcon;
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// A list selection; an index outside the list selects nothing.
void Select(QComboBox* list, int index) {
  if (list != nullptr) list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

}  // namespace

QString ToControlText(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToMemberText(const QString& text) { return text.toLatin1().toStdString(); }

void LimitEditBox(QLineEdit& edit) {
  edit.setMaxLength(kLimit);
  // Once the user has shortened an over-long text, it cannot grow again.
  QObject::connect(&edit, &QLineEdit::textEdited, &edit, [&edit](const QString& text) {
    edit.setMaxLength(std::max(kLimit, static_cast<int>(text.size())));
  });
}

void SetEditBoxText(QLineEdit& edit, const QString& text) {
  // QLineEdit cuts a text to its maximum length; the box shows it whole.
  edit.setMaxLength(std::max(kLimit, static_cast<int>(text.size())));
  edit.setText(text);
}

QtDialogUi::QtDialogUi(QWidget& dialog) : dialog_(dialog) {}

template <class T>
T* QtDialogUi::Control(int id) const {
  return dialog_.findChild<T*>(QString::number(id));
}

void QtDialogUi::OnDialogThread(const std::function<void()>& work) {
  if (QThread::currentThread() == dialog_.thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(&dialog_, work, Qt::BlockingQueuedConnection);
}

void QtDialogUi::SetStatus(const std::string& text) {
  OnDialogThread([&] {
    if (auto* line = Control<QLabel>(kStatusLine)) {
      line->setText(ToControlText(text));
      // Painted now, not when the event loop gets round to it: a flow can
      // write the next text before a deferred paint would have happened.
      line->repaint();
    }
  });
}

void QtDialogUi::SetText(TextControl control, const std::string& text) {
  OnDialogThread([&] {
    if (auto* label = Control<QLabel>(static_cast<int>(control))) {
      label->setText(ToControlText(text));
    }
  });
}

int QtDialogUi::RunMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                              bool yes_no) {
  const QMessageBox::StandardButtons buttons =
      yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
  QMessageBox box(BoxIcon(icon), ToControlText(caption), ToControlText(text), buttons, &dialog_);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(yes_no ? QMessageBox::Yes : QMessageBox::Ok);
  // The wait cursor belongs to the dialog; over the box the pointer is an
  // arrow, as the box wants an answer.
  const bool waiting = wait_depth_ > 0;
  if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const int answer = box.exec();
  if (waiting) QApplication::restoreOverrideCursor();
  return answer;
}

void QtDialogUi::ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) {
  OnDialogThread([&] { RunMessageBox(text, caption, icon, false); });
}

bool QtDialogUi::AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) {
  bool yes = false;
  OnDialogThread([&] { yes = RunMessageBox(text, caption, icon, true) == QMessageBox::Yes; });
  return yes;
}

void QtDialogUi::BeginWaitCursor() {
  OnDialogThread([&] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++wait_depth_;
  });
}

void QtDialogUi::EndWaitCursor() {
  OnDialogThread([&] {
    if (wait_depth_ == 0) return;
    --wait_depth_;
    QApplication::restoreOverrideCursor();
  });
}

void QtDialogUi::EnableButton(CommandButton button, bool enabled) {
  OnDialogThread([&] {
    if (auto* b = Control<QPushButton>(static_cast<int>(button))) b->setEnabled(enabled);
  });
}

ControlValues QtDialogUi::ReadControls() {
  ControlValues v;
  OnDialogThread([&] {
    auto text = [this](int id) {
      if (auto* edit = Control<QLineEdit>(id)) return ToMemberText(edit->text());
      if (auto* label = Control<QLabel>(id)) return ToMemberText(label->text());
      return std::string();
    };
    auto selection = [this](int id) {
      auto* list = Control<QComboBox>(id);
      return list != nullptr ? list->currentIndex() : -1;
    };
    v.port_index = selection(kPortList);
    v.speed_index = selection(kSpeedList);
    v.ip_address = text(kIpAddressBox);
    v.serial_number = text(kSerialNumberText);
    v.subnet_mask = text(kSubnetMaskBox);
    v.gateway = text(kGatewayBox);
    v.mac_address = text(kMacAddressText);
  });
  return v;
}

void QtDialogUi::WriteControls(const ControlValues& values) {
  OnDialogThread([&] {
    auto set_edit = [this](int id, const std::string& text) {
      if (auto* edit = Control<QLineEdit>(id)) SetEditBoxText(*edit, ToControlText(text));
    };
    auto set_label = [this](int id, const std::string& text) {
      if (auto* label = Control<QLabel>(id)) label->setText(ToControlText(text));
    };
    Select(Control<QComboBox>(kPortList), values.port_index);
    Select(Control<QComboBox>(kSpeedList), values.speed_index);
    set_edit(kIpAddressBox, values.ip_address);
    set_label(kSerialNumberText, values.serial_number);
    set_edit(kSubnetMaskBox, values.subnet_mask);
    set_edit(kGatewayBox, values.gateway);
    set_label(kMacAddressText, values.mac_address);
  });
}

}  // namespace krt
