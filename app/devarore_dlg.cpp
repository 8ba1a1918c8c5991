#include "app/devarore_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <utility>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/dialog_commands.h"
#include "app/dialog_units.h"
#include "firmware/update_command.h"
#include "logic/erase_command.h"
#include "setup/setup_record.h"

namespace krt {
namespace {

enum class Kind {
  kGroupBox,
  kLabel,        // left-aligned static text
  kLabelRight,   // right-aligned static text
  kLabelCentre,  // centred static text
  kButton,
  kDefaultButton,
  kEditBox,
  kDropDownList,
};

struct Control {
  int id;  // -1: none
  Kind kind;
  const char* text;
  int x, y, width, height;  // dialog units
};

// Dialog 102, 219 x 255 units, in template order (also the tab order).
constexpr int kWidth = 219;
constexpr int kHeight = 255;
constexpr Control kTemplate[] = {
    {-1, Kind::kGroupBox, "Connect KRT700 Loader", 5, 5, 205, 75},
    {-1, Kind::kGroupBox, "Channel", 10, 15, 105, 60},
    {-1, Kind::kLabelRight, "SN:", 134, 20, 13, 8},
    {118, Kind::kLabelCentre, "unknown", 150, 20, 55, 8},
    {129, Kind::kButton, "&Connect", 130, 60, 75, 14},
    {-1, Kind::kGroupBox, "KRT700 Firmware / Logic", 5, 85, 205, 60},
    {-1, Kind::kLabelRight, "Version:", 124, 48, 25, 8},
    {112, Kind::kLabelCentre, "", 160, 48, 35, 8},
    {106, Kind::kLabelCentre, "unknown", 60, 115, 35, 8},
    {107, Kind::kLabelCentre, "unknown", 105, 115, 35, 8},
    {105, Kind::kButton, "Current", 145, 94, 60, 14},
    {110, Kind::kButton, "Update", 145, 126, 60, 14},
    {-1, Kind::kGroupBox, "Configuration", 5, 150, 205, 85},
    {-1, Kind::kLabel, "KRT IP Address", 10, 167, 90, 10},
    {113, Kind::kEditBox, "", 115, 165, 90, 13},
    {-1, Kind::kLabel, "Subnet Mask", 10, 182, 90, 10},
    {120, Kind::kEditBox, "", 115, 180, 90, 13},
    {-1, Kind::kLabel, "Default Gateway", 10, 197, 90, 10},
    {121, Kind::kEditBox, "", 115, 195, 90, 13},
    {114, Kind::kButton, "&Transmit", 125, 215, 75, 14},
    {1, Kind::kDefaultButton, "Ok", 70, 215, 50, 14},
    {2, Kind::kButton, "Cancel", 10, 215, 50, 14},
    {111, Kind::kLabelCentre, "Loading firmware, please wait", 5, 240, 205, 8},
    {-1, Kind::kLabelRight, "MAC:", 130, 34, 18, 8},
    {122, Kind::kLabelCentre, "unknown", 150, 34, 55, 8},
    {130, Kind::kDropDownList, "", 50, 30, 55, 55},
    {-1, Kind::kLabel, "Port", 20, 32, 25, 8},
    {131, Kind::kDropDownList, "", 50, 50, 55, 90},
    {-1, Kind::kLabel, "Speed", 20, 52, 25, 8},
    {115, Kind::kButton, "Erase", 145, 110, 60, 14},
    {-1, Kind::kLabel, "Firmware", 15, 115, 35, 8},
    {-1, Kind::kLabel, "Logic", 15, 125, 35, 8},
    {-1, Kind::kLabelCentre, "Current", 60, 100, 35, 8},
    {-1, Kind::kLabelCentre, "Newest", 105, 100, 35, 8},
    {108, Kind::kLabelCentre, "unknown", 60, 125, 35, 8},
    {109, Kind::kLabelCentre, "unknown", 105, 125, 35, 8},
};

// A label and the control it names, for keyboard users and accessibility.
constexpr std::pair<const char*, int> kBuddies[] = {
    {"KRT IP Address", 113}, {"Subnet Mask", 120}, {"Default Gateway", 121},
    {"Port", 130},           {"Speed", 131},
};

// The lists, filled in this order and never sorted.
constexpr const char* kSpeeds[] = {"9600", "19200", "38400", "57600", "115200"};
constexpr int kPortCount = 19;

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
      return true;
    default:
      return false;
  }
}

}  // namespace

CDevaroreDlg::CDevaroreDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(*this),
      icon_(AppIcon()) {
  setWindowTitle(QStringLiteral("KRT700 Update/Setup"));
  setFont(DialogFont());
  BuildControls();
  // Drawing the icon of the minimised window, and handing it out while that
  // is dragged, is the window manager's business on Linux: it is given the
  // icon once here.
  setWindowIcon(icon_);
  qApp->installEventFilter(this);
}

CDevaroreDlg::~CDevaroreDlg() {
  // A flow still running (the application is being torn down around it) may
  // be waiting for this thread: serve it until it has ended.
  then_ = nullptr;
  while (CommandRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void CDevaroreDlg::BuildControls() {
  const DialogUnits du(font());
  setFixedSize(du.X(kWidth), du.Y(kHeight));

  QWidget* previous = nullptr;
  for (const Control& c : kTemplate) {
    const QString text = QString::fromLatin1(c.text);
    QWidget* w = nullptr;
    QRect rect = du.Rect(c.x, c.y, c.width, c.height);
    switch (c.kind) {
      case Kind::kGroupBox:
        w = new QGroupBox(text, this);
        // A frame only: clicks go through it to the dialog below.
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
        break;
      case Kind::kLabel:
      case Kind::kLabelRight:
      case Kind::kLabelCentre: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        const Qt::Alignment across = c.kind == Kind::kLabel        ? Qt::AlignLeft
                                     : c.kind == Kind::kLabelRight ? Qt::AlignRight
                                                                   : Qt::AlignHCenter;
        label->setAlignment(across | Qt::AlignTop);
        w = label;
        break;
      }
      case Kind::kButton:
      case Kind::kDefaultButton: {
        auto* button = new QPushButton(text, this);
        // OK is the default button: Enter presses it, except while another
        // button has the focus, which Enter then presses, as in every dialog.
        button->setDefault(c.kind == Kind::kDefaultButton);
        w = button;
        break;
      }
      case Kind::kEditBox: {
        auto* edit = new QLineEdit(this);
        LimitEditBox(*edit);
        w = edit;
        break;
      }
      case Kind::kDropDownList: {
        auto* list = new QComboBox(this);
        if (c.id == 130) {
          for (int n = 1; n <= kPortCount; ++n) list->addItem(QStringLiteral("COM%1").arg(n));
        } else {
          for (const char* speed : kSpeeds) list->addItem(QString::fromLatin1(speed));
        }
        // The template's height is that of the list when dropped down; the
        // closed box is as high as the style draws it.
        const int closed = list->sizeHint().height();
        const int item = list->fontMetrics().height() + 2;
        list->setMaxVisibleItems(std::max(1, (rect.height() - closed) / item));
        rect.setHeight(closed);
        w = list;
        break;
      }
    }
    w->setGeometry(rect);
    if (c.id != -1) w->setObjectName(QString::number(c.id));
    if (w->focusPolicy() != Qt::NoFocus) {
      if (previous != nullptr) setTabOrder(previous, w);
      previous = w;
    }
  }

  for (const auto& [label_text, id] : kBuddies) {
    for (QLabel* label : findChildren<QLabel*>()) {
      if (label->text() == QLatin1String(label_text)) {
        label->setBuddy(findChild<QWidget*>(QString::number(id)));
      }
    }
  }

  auto button = [this](int id) { return findChild<QPushButton*>(QString::number(id)); };
  auto on_click = [this, button](int id, Flow flow) {
    connect(button(id), &QPushButton::clicked, this,
            [this, flow = std::move(flow)] { RunCommand(flow); });
  };
  on_click(129, ConnectCommand);
  on_click(105, CurrentCommand);
  on_click(110, UpdateCommand);
  on_click(115, EraseCommand);
  on_click(114, TransmitCommand);
  connect(button(1), &QPushButton::clicked, this, &CDevaroreDlg::accept);
  connect(button(2), &QPushButton::clicked, this, &CDevaroreDlg::reject);
}

void CDevaroreDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (opened_ || event->spontaneous()) return;
  opened_ = true;
  // Opening: the members into the controls, the newest images looked up,
  // only Connect of the command buttons enabled. No probe is talked to, so
  // this runs here, before the window appears.
  OpenDialog(ui_, state_);
  // The first enabled control with a tab stop in template order.
  if (auto* connect = findChild<QPushButton*>(QStringLiteral("129"))) connect->setFocus();
}

void CDevaroreDlg::RunCommand(Flow flow, std::function<void()> then) {
  if (CommandRunning()) return;
  then_ = std::move(then);
  worker_ = std::thread([this, flow = std::move(flow)] {
    flow(ui_, state_);
    QMetaObject::invokeMethod(this, &CDevaroreDlg::FinishCommand, Qt::QueuedConnection);
  });
}

void CDevaroreDlg::FinishCommand() {
  worker_.join();
  const std::function<void()> then = std::exchange(then_, nullptr);
  if (then) then();
}

void CDevaroreDlg::accept() {
  RunCommand([this](DialogUi& ui, DialogState& s) { ok_passed_ = OkCommand(ui, s); },
             [this] {
               if (ok_passed_) done(kEndOk);
             });
}

void CDevaroreDlg::reject() {
  RunCommand([](DialogUi& ui, DialogState&) { CancelCommand(ui); }, [this] { done(kEndCancel); });
}

void CDevaroreDlg::FillSystemMenu(QMenu& menu) {
  menu.addAction(tr("&Close"))->setData(kScClose);
  menu.addSeparator();
  menu.addAction(QStringLiteral("&About Tovlane Setup..."))->setData(kIdmAboutBox);
}

void CDevaroreDlg::OnSysCommand(int id) {
  if ((id & 0xFFF0) == kIdmAboutBox) {
    CAboutDlg about(this);
    about.exec();
  } else if (id == kScClose) {
    reject();
  }
}

void CDevaroreDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillSystemMenu(menu);
  if (QAction* chosen = menu.exec(event->globalPos())) OnSysCommand(chosen->data().toInt());
}

bool CDevaroreDlg::eventFilter(QObject* watched, QEvent* event) {
  if (CommandRunning() && IsUserInput(event->type()) && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    // A key that would trigger a shortcut is taken as a plain key press here,
    // which is swallowed in turn.
    if (event->type() == QEvent::ShortcutOverride) event->accept();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace krt
