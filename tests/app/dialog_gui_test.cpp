// The program offscreen: start-up with the settings file, the main dialog's
// template and commands against the simulated probe, leaving with OK and
// Cancel, message boxes and the About box.
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QTest>

#include "app/about_dlg.h"
#include "app/dialog_units.h"
#include "setup/setup_record.h"
#include "tests/app/gui_fixture.h"
#include "tests/support/images.h"

namespace krt::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr int kOk = 1, kCancel = 2, kCurrent = 105, kFirmwareNow = 106, kFirmwareNewest = 107,
              kLogicNow = 108, kLogicNewest = 109, kUpdate = 110, kStatus = 111,
              kLoaderVersion = 112, kIp = 113, kTransmit = 114, kErase = 115, kSerial = 118,
              kSubnet = 120, kGateway = 121, kMac = 122, kConnect = 129, kPorts = 130,
              kSpeeds = 131;
constexpr int kCommandButtons[] = {kConnect, kCurrent, kUpdate, kErase, kTransmit};

std::vector<std::string> Describe(const std::vector<SeenBox>& boxes) {
  std::vector<std::string> out;
  for (const SeenBox& b : boxes) out.push_back(b.Describe());
  return out;
}

std::vector<int> EnabledCommands(const CDevaroreDlg& d) {
  std::vector<int> on;
  for (int id : kCommandButtons) {
    if (d.findChild<QWidget*>(QString::number(id))->isEnabled()) on.push_back(id);
  }
  return on;
}

// ---------------------------------------------------------------- opening

struct StoreCase {
  const char* name;
  bool write;  // false: no settings file at all
  const char* content;
};

class EmptyStoreTest : public GuiTest, public ::testing::WithParamInterface<StoreCase> {};

// Whatever the store holds short of the five values, the dialog opens on the
// defaults, and leaving with Cancel leaves the file as it was.
TEST_P(EmptyStoreTest, OpensOnTheDefaults) {
  if (GetParam().write) WriteSettings(GetParam().content);
  const std::string before = ReadFile(SettingsPath());
  RunProgram([&](CDevaroreDlg& d) {
    EXPECT_EQ(d.windowTitle(), "KRT700 Update/Setup");
    EXPECT_EQ(Selection(d, kPorts), 0);
    EXPECT_EQ(d.findChild<QComboBox*>("130")->currentText(), "COM1");
    EXPECT_EQ(Selection(d, kSpeeds), 0);
    EXPECT_EQ(d.findChild<QComboBox*>("131")->currentText(), "9600");
    EXPECT_EQ(Text(d, kIp), "111.111.111.111");
    EXPECT_EQ(Text(d, kSubnet), "255.255.255.0");
    EXPECT_EQ(Text(d, kGateway), "255.255.255.255");
    EXPECT_EQ(Text(d, kSerial), "");
    EXPECT_EQ(Text(d, kMac), "");
    EXPECT_EQ(Text(d, kStatus), "");
    EXPECT_EQ(Text(d, kFirmwareNewest), "1.02");
    EXPECT_EQ(Text(d, kLogicNewest), "1.01");
    EXPECT_EQ(Text(d, kFirmwareNow), "unknown");
    EXPECT_EQ(Text(d, kLogicNow), "unknown");
    EXPECT_THAT(EnabledCommands(d), ElementsAre(kConnect));
    EXPECT_TRUE(Enabled(d, kOk));
    EXPECT_TRUE(Enabled(d, kCancel));
    EXPECT_EQ(d.focusWidget(), d.findChild<QWidget*>("129"));
    Click(d, kCancel);
  });
  EXPECT_EQ(end_code_, kCancel);
  EXPECT_EQ(ReadFile(SettingsPath()), before);
  EXPECT_EQ(std::filesystem::exists(SettingsPath()), GetParam().write);
  EXPECT_THAT(watcher_->boxes, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Stores, EmptyStoreTest,
    ::testing::Values(StoreCase{"NoFile", false, ""},
                      StoreCase{"OtherSectionsOnly", true, "[Other]\nComPort=7\n"},
                      StoreCase{"Corrupt", true,
                                "\x01\xff\xfe garbage\n[KRT700 PPC6xx/7xx\nComPort=\n=5\n"
                                "[KRT700 PPC6xx/7xx]\nComPort=two\nBaudrate=9999999999\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- the template

class TemplateTest : public GuiTest {};

// The controls with identifiers are there under their identifiers; the lists
// hold their entries in order; the tab order is the template's; no text is
// clipped and no two controls overlap (group boxes aside).
TEST_F(TemplateTest, ControlsTabOrderAndLayout) {
  CDevaroreDlg d;
  d.show();
  const DialogUnits du(d.font());
  EXPECT_EQ(d.size(), QSize(du.X(219), du.Y(255)));
  EXPECT_EQ(d.minimumSize(), d.maximumSize());  // fixed size
  EXPECT_FALSE(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(d.font().pointSize(), 8);

  struct Named {
    int id;
    const char* type;
    const char* text;
    QRect units;
  };
  const Named named[] = {
      {118, "QLabel", "", {150, 20, 55, 8}},
      {129, "QPushButton", "&Connect", {130, 60, 75, 14}},
      {112, "QLabel", "", {160, 48, 35, 8}},
      {106, "QLabel", "unknown", {60, 115, 35, 8}},
      {107, "QLabel", "1.02", {105, 115, 35, 8}},
      {105, "QPushButton", "Current", {145, 94, 60, 14}},
      {110, "QPushButton", "Update", {145, 126, 60, 14}},
      {113, "QLineEdit", "", {115, 165, 90, 13}},
      {120, "QLineEdit", "", {115, 180, 90, 13}},
      {121, "QLineEdit", "", {115, 195, 90, 13}},
      {114, "QPushButton", "&Transmit", {125, 215, 75, 14}},
      {1, "QPushButton", "Ok", {70, 215, 50, 14}},
      {2, "QPushButton", "Cancel", {10, 215, 50, 14}},
      {111, "QLabel", "", {5, 240, 205, 8}},
      {122, "QLabel", "", {150, 34, 55, 8}},
      {130, "QComboBox", "", {50, 30, 55, 0}},
      {131, "QComboBox", "", {50, 50, 55, 0}},
      {115, "QPushButton", "Erase", {145, 110, 60, 14}},
      {108, "QLabel", "unknown", {60, 125, 35, 8}},
      {109, "QLabel", "1.01", {105, 125, 35, 8}},
  };
  for (const Named& n : named) {
    SCOPED_TRACE(n.id);
    QWidget* w = d.findChild<QWidget*>(QString::number(n.id));
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), n.type);
    if (std::string(n.type) != "QComboBox") {
      EXPECT_EQ(Text(d, n.id), n.text);
    }
    const QRect want = du.Rect(n.units.x(), n.units.y(), n.units.width(), n.units.height());
    EXPECT_EQ(w->pos(), want.topLeft());
    EXPECT_EQ(w->width(), want.width());
    if (n.units.height() != 0) {
      EXPECT_EQ(w->height(), want.height());
    }
  }

  auto entries = [&](const char* id) {
    std::vector<std::string> out;
    auto* list = d.findChild<QComboBox*>(id);
    for (int i = 0; i < list->count(); ++i) out.push_back(list->itemText(i).toStdString());
    return out;
  };
  std::vector<std::string> ports;
  for (int n = 1; n <= 19; ++n) ports.push_back("COM" + std::to_string(n));
  EXPECT_EQ(entries("130"), ports);
  EXPECT_THAT(entries("131"), ElementsAre("9600", "19200", "38400", "57600", "115200"));

  // Tab order: the controls with a tab stop in template order.
  std::vector<std::string> chain;
  QWidget* w = d.findChild<QWidget*>("129");
  do {
    chain.push_back(w->objectName().toStdString());
    w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
  } while (w != d.findChild<QWidget*>("129") && chain.size() < 40);
  EXPECT_THAT(chain, ElementsAre("129", "105", "110", "113", "120", "121", "114", "1", "2", "130",
                                 "131", "115"));

  // Every text fits its control, and controls do not overlap.
  std::vector<QWidget*> controls;
  for (QWidget* c : d.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (qobject_cast<QGroupBox*>(c) == nullptr) controls.push_back(c);
    QString text;
    if (auto* label = qobject_cast<QLabel*>(c)) text = label->text();
    if (auto* button = qobject_cast<QPushButton*>(c)) text = button->text().remove('&');
    if (auto* group = qobject_cast<QGroupBox*>(c)) text = group->title();
    const QFontMetrics fm(c->font());
    EXPECT_LE(fm.horizontalAdvance(text) + (qobject_cast<QPushButton*>(c) ? 8 : 0), c->width())
        << text.toStdString();
    EXPECT_GE(c->height(), fm.height()) << text.toStdString();
  }
  EXPECT_EQ(controls.size(), 32u);  // 35 template controls, 3 of them group boxes
  for (std::size_t i = 0; i < controls.size(); ++i) {
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << controls[i]->objectName().toStdString() << " "
          << controls[j]->objectName().toStdString();
    }
  }
  // The texts of the probe's values fit their controls too.
  auto* serial = d.findChild<QLabel*>("122");
  EXPECT_LE(QFontMetrics(serial->font()).horizontalAdvance("02A7F3AB12CD"), serial->width());
  auto* status = d.findChild<QLabel*>("111");
  EXPECT_LE(QFontMetrics(status->font()).horizontalAdvance("Updating firmware and logic passed!"),
            status->width());
}

// Typing stops at 15 characters; a longer text put in by the program (from
// the settings) is shown whole, may shrink, but does not grow again.
TEST_F(TemplateTest, AddressBoxesTakeFifteenCharacters) {
  CDevaroreDlg d;
  d.state().ip_address = "1";
  d.state().gateway = "192.168.100.100.7";  // 17
  d.show();
  Type(d, kIp, "192.168.100.100.200");
  EXPECT_EQ(Text(d, kIp), "192.168.100.100");
  auto* gateway = d.findChild<QLineEdit*>("121");
  EXPECT_EQ(gateway->text(), "192.168.100.100.7");
  gateway->setFocus();
  QTest::keyClick(gateway, Qt::Key_End);
  QTest::keyClick(gateway, Qt::Key_Backspace);
  QTest::keyClicks(gateway, "89");
  EXPECT_EQ(gateway->text(), "192.168.100.100.");
  QTest::keyClick(gateway, Qt::Key_Backspace);
  QTest::keyClick(gateway, Qt::Key_Backspace);
  QTest::keyClicks(gateway, "123");
  EXPECT_EQ(gateway->text(), "192.168.100.101");
}

// ---------------------------------------------------------------- connecting

struct NoProbeCase {
  const char* name;
  const char* settings;  // after [Ports] COM1=<simulator>
  const char* ports;     // a [Ports] section instead, when set
  int port_selection;
};

class NoProbeTest : public GuiTest, public ::testing::WithParamInterface<NoProbeCase> {};

// A port outside the list (COM0 then) or one whose device does not exist:
// ten attempts fail, "Cannot connect to KRT loader!", the dialog stays
// unconnected, and leaving it with Cancel stores nothing.
TEST_P(NoProbeTest, ConnectFailsAndNothingIsStored) {
  StartSim();
  if (GetParam().ports != nullptr) {
    WriteSettingsFile(std::string(GetParam().ports) + GetParam().settings);
  } else {
    WriteSettings(GetParam().settings);
  }
  const std::string before = ReadFile(SettingsPath());
  RunProgram([&](CDevaroreDlg& d) {
    EXPECT_EQ(Selection(d, kPorts), GetParam().port_selection);
    Click(d, kConnect);
    EXPECT_THAT(Describe(watcher_->boxes),
                ElementsAre("Tovlane/none/Ok: Cannot connect to KRT loader!"));
    // The box came before the final status, as the flow has it.
    EXPECT_EQ(watcher_->boxes[0].status, "Connecting to KRT Loader ...");
    EXPECT_EQ(Text(d, kStatus), "Connecting to KRT loader failed!");
    EXPECT_THAT(EnabledCommands(d), ElementsAre(kConnect));
    EXPECT_EQ(d.state().port_index, GetParam().port_selection);
    Click(d, kCancel);
  });
  EXPECT_EQ(end_code_, kCancel);
  EXPECT_EQ(ReadFile(SettingsPath()), before);
  EXPECT_THAT(sim_->Messages(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Ports, NoProbeTest,
    ::testing::Values(NoProbeCase{"IndexOutsideTheList",
                                  "[KRT700 PPC6xx/7xx]\nComPort=25\nBaudrate=4\n", nullptr, -1},
                      NoProbeCase{"DeviceMissing", "[KRT700 PPC6xx/7xx]\nComPort=0\nBaudrate=4\n",
                                  "[Ports]\nCOM1=/dev/krt-no-such-device\n", 0}),
    [](const auto& info) { return std::string(info.param.name); });

class ProbeTest : public GuiTest {
 protected:
  // A probe with firmware 1.01 and logic 1.00; the images are 1.02 and 1.01.
  void SetUp() override {
    GuiTest::SetUp();
    sim::SimulatorOptions o = DefaultSim();
    o.model.serial_number = "AB12CD34";
    o.model.firmware_version = 101;
    o.model.logic_version = 100;
    StartSim(o);
    WriteSettings("[KRT700 PPC6xx/7xx]\nBaudrate=4\nComPort=0\n");
  }

  void Connect(CDevaroreDlg& d) {
    Click(d, kConnect);
    ASSERT_EQ(Text(d, kStatus), "Connecting to KRT Loader passed!")
        << ::testing::PrintToString(Describe(watcher_->boxes));
    sim_->ClearLog();
  }
};

TEST_F(ProbeTest, ConnectAndCurrentShowTheProbe) {
  RunProgram([&](CDevaroreDlg& d) {
    PaintRecorder status(*d.findChild<QLabel*>("111"));
    // Connect has the focus when the dialog opens: Enter presses it, not OK.
    ASSERT_EQ(d.focusWidget(), d.findChild<QWidget*>("129"));
    QTest::keyClick(d.focusWidget(), Qt::Key_Return);
    WaitForCommand(d);
    EXPECT_TRUE(d.isVisible());
    EXPECT_THAT(status.texts,
                ElementsAre("Connecting to KRT Loader ...", "Connecting to KRT Loader passed!"));
    EXPECT_EQ(Text(d, kSerial), "AB12CD34");
    EXPECT_EQ(Text(d, kMac), "02A7F3AB12CD");
    EXPECT_EQ(Text(d, kLoaderVersion), "1.02");
    EXPECT_EQ(Text(d, kFirmwareNow), "1.01");
    EXPECT_EQ(Text(d, kLogicNow), "1.00");
    EXPECT_THAT(EnabledCommands(d), ElementsAre(kCurrent, kUpdate, kErase, kTransmit));

    sim_->ClearLog();
    Click(d, kCurrent);
    EXPECT_EQ(Text(d, kStatus), "Reading current versions passed!");
    EXPECT_EQ(sim_->Requests().size(), 2u);  // identification: codes 114 and 100
    EXPECT_THAT(watcher_->boxes, IsEmpty());
    Click(d, kCancel);
  });
  EXPECT_EQ(end_code_, kCancel);
  EXPECT_EQ(sim_->FirmwareStarts(), 1u);  // leaving starts the probe firmware
}

// The status line shows the progress as it happens, while the window keeps
// handling events, takes no input from the user and shows the wait cursor.
TEST_F(ProbeTest, UpdateShowsItsProgressAndTheDialogStaysLive) {
  RunProgram([&](CDevaroreDlg& d) {
    Connect(d);
    PaintRecorder status(*d.findChild<QLabel*>("111"));
    int loop_turns = 0;
    bool wait_cursor = false;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      ++loop_turns;
      if (QApplication::overrideCursor() != nullptr &&
          QApplication::overrideCursor()->shape() == Qt::WaitCursor) {
        wait_cursor = true;
      }
    });
    ticker.start(1);

    d.findChild<QPushButton*>("110")->click();
    ASSERT_TRUE(d.CommandRunning());
    // Input while the command runs is swallowed: neither Escape nor a click
    // on Cancel ends the dialog, a click on Erase asks nothing, keys change
    // no box or list.
    QTest::keyClick(&d, Qt::Key_Escape);
    QTest::mouseClick(d.findChild<QPushButton*>("2"), Qt::LeftButton);
    QTest::mouseClick(d.findChild<QPushButton*>("115"), Qt::LeftButton);
    const QString subnet = Text(d, kSubnet);
    QTest::keyClicks(d.findChild<QLineEdit*>("120"), "99");
    QTest::keyClick(d.findChild<QComboBox*>("131"), Qt::Key_Up);
    EXPECT_EQ(Text(d, kSubnet), subnet);
    EXPECT_EQ(Selection(d, kSpeeds), 4);
    WaitForCommand(d);
    ticker.stop();

    EXPECT_TRUE(d.isVisible());
    EXPECT_THAT(watcher_->boxes, IsEmpty());  // Erase would have asked
    EXPECT_GT(loop_turns, 10);
    EXPECT_TRUE(wait_cursor);
    EXPECT_EQ(Text(d, kStatus), "Updating firmware and logic passed!");
    EXPECT_EQ(Text(d, kFirmwareNow), "1.02");
    EXPECT_EQ(Text(d, kLogicNow), "1.01");
    EXPECT_FALSE(Enabled(d, kUpdate));

    // Each step's percentages were painted one after another.
    for (const char* step : {"Firmware: Programming Flash ... ( ", "Logic: Programming ... ( ",
                             "Logic: Verifying ... ( "}) {
      SCOPED_TRACE(step);
      std::vector<int> percents;
      for (const std::string& t : status.texts) {
        if (t.rfind(step, 0) == 0)
          percents.push_back(std::stoi(t.substr(std::string(step).size())));
      }
      // Rows and lines are well under one per cent each, so no percentage
      // is skipped: every one was painted, in order.
      ASSERT_GE(percents.size(), 99u);
      EXPECT_LE(percents.front(), 1);
      for (std::size_t i = 1; i < percents.size(); ++i) EXPECT_EQ(percents[i], percents[i - 1] + 1);
      EXPECT_GE(percents.back(), 99);  // the logic steps tell the row they start
    }
    EXPECT_THAT(status.texts, Contains("Firmware: Programming Flash ... passed!"));
    EXPECT_EQ(status.texts.back(), "Updating firmware and logic passed!");
    Click(d, kCancel);
  });
  EXPECT_EQ(end_code_, kCancel);
}

// ---------------------------------------------------------------- Erase

class EraseTest : public ProbeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EraseTest, AsksFirst) {
  const bool yes = GetParam();
  RunProgram([&](CDevaroreDlg& d) {
    Connect(d);
    watcher_->answers.push_back(yes ? QMessageBox::Yes : QMessageBox::No);
    Click(d, kErase);
    ASSERT_EQ(watcher_->boxes.size(), 1u);
    const SeenBox& box = watcher_->boxes[0];
    EXPECT_EQ(box.caption, "Tovlane");
    EXPECT_EQ(box.text, "Erase Flash and EPLD?");
    EXPECT_EQ(box.icon, QMessageBox::Question);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    if (yes) {
      EXPECT_EQ(Text(d, kStatus), "Erasing Flash and EPLD passed!");
      EXPECT_EQ(Text(d, kFirmwareNow), "unkown");
      EXPECT_EQ(Text(d, kLogicNow), "unkown");
      EXPECT_TRUE(Enabled(d, kUpdate));
      EXPECT_EQ(sim_->Flash(0x01040000, 4), sim::Bytes(4, 0xFF));
    } else {
      EXPECT_THAT(sim_->Messages(), IsEmpty());
      EXPECT_EQ(Text(d, kStatus), "Connecting to KRT Loader passed!");
      EXPECT_EQ(Text(d, kFirmwareNow), "1.01");
    }
    Click(d, kCancel);
  });
}

INSTANTIATE_TEST_SUITE_P(Answers, EraseTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Yes" : "No"; });

// ---------------------------------------------------------------- Transmit and OK

// The addresses typed are written into the probe, and leaving with OK
// (Enter) stores them with the port and speed.
TEST_F(ProbeTest, TransmitThenOkStoresTheAddresses) {
  RunProgram([&](CDevaroreDlg& d) {
    Connect(d);
    Type(d, kIp, "192.168.1.10");
    Type(d, kSubnet, "255.255.255.0");
    Type(d, kGateway, "192.168.1.1");
    PaintRecorder status(*d.findChild<QLabel*>("111"));
    Click(d, kTransmit);
    EXPECT_THAT(status.texts, ElementsAre("Writing setup data ....", "Writing setup data passed"));
    const SetupRecord expected = BuildSetupRecord("AB12CD34", "192.168.1.10", "255.255.255.0",
                                                  "192.168.1.1", "255.255.255.255", "");
    EXPECT_EQ(sim_->Flash(0x01008000, 104), sim::Bytes(expected.begin(), expected.end()));
    QTest::keyClick(d.findChild<QLineEdit*>("121"), Qt::Key_Return);
    WaitForCommand(d);
  });
  EXPECT_EQ(end_code_, kOk);
  EXPECT_THAT(watcher_->boxes, IsEmpty());
  EXPECT_EQ(sim_->FirmwareStarts(), 1u);
  EXPECT_EQ(ReadFile(SettingsPath()),
            "[Ports]\nCOM1=" + sim_->DevicePath() +
                "\n[KRT700 PPC6xx/7xx]\nBaudrate=4\nComPort=0\nKrtIP=192.168.1.10\n"
                "Subnet=255.255.255.0\nGateway=192.168.1.1\n");
}

// A failed Transmit: the status first, then the box with its own caption.
TEST_F(ProbeTest, AFailedTransmitSaysSoInThatOrder) {
  RunProgram([&](CDevaroreDlg& d) {
    Connect(d);
    sim_->AddFault(*sim::ParseFault("status:at=1,code=103", nullptr));
    Click(d, kTransmit);
    ASSERT_THAT(Describe(watcher_->boxes), ElementsAre("Error/warning/Ok: Transfer failed!"));
    EXPECT_EQ(watcher_->boxes[0].status, "Writing setup data failed!");
    EXPECT_EQ(Text(d, kStatus), "Writing setup data failed!");
    Click(d, kCancel);
  });
}

class LeavingTest : public GuiTest {};

// OK stores the five values as the dialog holds them: list indices, not
// port numbers or bit rates; the rest of the file stays.
TEST_F(LeavingTest, OkStoresTheFiveValues) {
  WriteSettings("[Ports]\nCOM3=/dev/ttyUSB1\n; kept\n[Other]\nx=1\n");
  RunProgram([&](CDevaroreDlg& d) {
    d.findChild<QComboBox*>("130")->setCurrentIndex(2);
    d.findChild<QComboBox*>("131")->setCurrentIndex(3);
    Type(d, kIp, "10.1.2.3");
    Type(d, kSubnet, "255.255.0.0");
    Type(d, kGateway, "not checked");
    Click(d, kOk);
  });
  EXPECT_EQ(end_code_, kOk);
  EXPECT_THAT(watcher_->boxes, IsEmpty());
  EXPECT_EQ(ReadFile(SettingsPath()),
            "[Ports]\nCOM3=/dev/ttyUSB1\n; kept\n[Other]\nx=1\n\n[KRT700 PPC6xx/7xx]\n"
            "Baudrate=3\nComPort=2\nKrtIP=10.1.2.3\nSubnet=255.255.0.0\nGateway=not checked\n");
}

// Cancel, Escape and the close box all leave without storing anything, also
// after the user changed the values.
class CancelTest : public GuiTest, public ::testing::WithParamInterface<int> {};

TEST_P(CancelTest, StoresNothing) {
  WriteSettings("[KRT700 PPC6xx/7xx]\nComPort=4\nBaudrate=1\n");
  const std::string before = ReadFile(SettingsPath());
  RunProgram([&](CDevaroreDlg& d) {
    EXPECT_EQ(Selection(d, kPorts), 4);
    d.findChild<QComboBox*>("130")->setCurrentIndex(2);
    Type(d, kIp, "10.1.2.3");
    PaintRecorder status(*d.findChild<QLabel*>("111"));
    switch (GetParam()) {
      case 0:
        Click(d, kCancel);
        break;
      case 1:
        QTest::keyClick(&d, Qt::Key_Escape);
        break;
      case 2:
        d.close();
        break;
    }
    WaitForCommand(d);
    EXPECT_THAT(status.texts, ElementsAre("Starting firmware please wait...."));
  });
  EXPECT_EQ(end_code_, kCancel);
  EXPECT_EQ(ReadFile(SettingsPath()), before);
}

INSTANTIATE_TEST_SUITE_P(Ways, CancelTest, ::testing::Values(0, 1, 2), [](const auto& info) {
  return std::string(info.param == 0 ? "CancelButton" : info.param == 1 ? "Escape" : "CloseBox");
});

struct RefusedCase {
  const char* name;
  const char* settings;
  const char* typed_ip;  // nullptr: as stored
  const char* box;
};

class RefusedOkTest : public GuiTest, public ::testing::WithParamInterface<RefusedCase> {};

// OK with a value the exchange refuses: the firmware is started and the link
// closed, the box says why, the dialog stays open; Cancel then leaves
// without storing anything.
TEST_P(RefusedOkTest, StaysOpen) {
  WriteSettings(GetParam().settings);
  const std::string before = ReadFile(SettingsPath());
  RunProgram([&](CDevaroreDlg& d) {
    if (GetParam().typed_ip != nullptr) Type(d, kIp, GetParam().typed_ip);
    Click(d, kOk);
    EXPECT_TRUE(d.isVisible());
    EXPECT_THAT(Describe(watcher_->boxes), ElementsAre(GetParam().box));
    EXPECT_EQ(Text(d, kStatus), "Starting firmware please wait....");
    Click(d, kCancel);
  });
  EXPECT_EQ(end_code_, kCancel);
  EXPECT_EQ(ReadFile(SettingsPath()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedOkTest,
    ::testing::Values(
        RefusedCase{"IpTyped", "", "1.2.3", "Tovlane/warning/Ok: Invalid IP address!"},
        RefusedCase{"IpAllOnes", "", "255.255.255.255", "Tovlane/warning/Ok: Invalid IP address!"},
        RefusedCase{"GatewayTooLongInTheFile",
                    "[KRT700 PPC6xx/7xx]\nKrtIP=10.0.0.1\nGateway=192.168.100.100.7\n", nullptr,
                    "Tovlane/warning/Ok: Please enter no more than 15 characters."}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- the About box

class AboutTest : public GuiTest, public ::testing::WithParamInterface<int> {};

// The dialog's menu ends in a separator and the About entry, which opens the
// About box; Escape, Enter and the close box end it, and the dialog is as it
// was.
TEST_P(AboutTest, OpensFromTheDialogMenu) {
  std::vector<std::string> entries;
  bool about_seen = false;
  watcher_->on_menu = [&](QMenu& menu) {
    for (QAction* a : menu.actions())
      entries.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    menu.setActiveAction(menu.actions().back());
    QTest::keyClick(&menu, Qt::Key_Return);
  };
  watcher_->on_window = [&](QWidget& w) {
    auto* about = dynamic_cast<CAboutDlg*>(&w);
    ASSERT_NE(about, nullptr) << w.windowTitle().toStdString();
    about_seen = true;
    EXPECT_EQ(about->windowTitle(), "About Tovlane Setup");
    auto* families = about->findChild<QLabel*>("1000");
    ASSERT_NE(families, nullptr);
    EXPECT_EQ(families->text(), "PPC6xx/7xx/82xx/83xx");
    const DialogUnits du(about->font());
    EXPECT_EQ(about->size(), QSize(du.X(221), du.Y(48)));
    EXPECT_THAT(about->findChildren<QPushButton*>(), IsEmpty());
    bool version_shown = false;
    for (QLabel* label : about->findChildren<QLabel*>()) {
      version_shown |= label->text() == "KRT700 Setup Version 1.02";
      if (!label->text().isEmpty()) {
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());
      }
    }
    EXPECT_TRUE(version_shown);
    switch (GetParam()) {
      case 0:
        QTest::keyClick(about, Qt::Key_Escape);
        break;
      case 1:
        QTest::keyClick(about, Qt::Key_Return);
        break;
      case 2:
        about->close();
        break;
    }
  };
  RunProgram([&](CDevaroreDlg& d) {
    QTest::mouseClick(d.windowHandle(), Qt::RightButton, {}, d.rect().bottomRight() - QPoint(3, 3));
    EXPECT_TRUE(about_seen);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(Text(d, kStatus), "");
    EXPECT_THAT(EnabledCommands(d), ElementsAre(kConnect));
    Click(d, kCancel);
  });
  EXPECT_THAT(entries, ElementsAre("&Close", "-", "&About Tovlane Setup..."));
  EXPECT_EQ(end_code_, kCancel);
}

// The menu opens on a right click on the background, a label, a frame or an
// enabled button.
TEST_F(GuiTest, TheMenuOpensOnTheDialogsParts) {
  int menus = 0;
  watcher_->on_menu = [&](QMenu& menu) {
    ++menus;
    menu.close();
  };
  RunProgram([&](CDevaroreDlg& d) {
    const DialogUnits du(d.font());
    const QPoint spots[] = {
        du.Rect(100, 246, 1, 1).topLeft(),  // below the status line
        du.Rect(22, 33, 1, 1).topLeft(),    // the "Port" label
        du.Rect(8, 40, 1, 1).topLeft(),     // inside the "Connect KRT700 Loader" frame
        du.Rect(20, 220, 1, 1).topLeft(),   // Cancel
        du.Rect(60, 220, 1, 1).topLeft(),   // between Cancel and Ok
    };
    int expected = 0;
    for (const QPoint& spot : spots) {
      QTest::mouseClick(d.windowHandle(), Qt::RightButton, {}, spot);
      EXPECT_EQ(menus, ++expected) << spot.x() << "," << spot.y();
    }
    Click(d, kCancel);
  });
}

INSTANTIATE_TEST_SUITE_P(Closing, AboutTest, ::testing::Values(0, 1, 2), [](const auto& info) {
  return std::string(info.param == 0 ? "Escape" : info.param == 1 ? "Enter" : "CloseBox");
});

}  // namespace
}  // namespace krt::test
