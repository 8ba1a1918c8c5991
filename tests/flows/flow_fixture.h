// The command flows against the simulated probe over a real pseudo-terminal,
// seen through the recording face of the dialog.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/dialog_commands.h"
#include "firmware/catalogue.h"
#include "firmware/firmware_flashing.h"
#include "link/link.h"
#include "sim/simulator.h"
#include "tests/support/images.h"
#include "tests/support/recording_ui.h"

namespace krt::test {

// The firmware binary as the flash must hold it: the image with the signature
// over its first four (erased) bytes.
inline sim::Bytes ExpectedFirmware(const std::string& images) {
  const std::string bin = ReadFile(images + "/variants/firmware.bin");
  sim::Bytes expected(bin.begin(), bin.end());
  for (int i = 0; i < 4; ++i) expected[i] = kSignature[i];
  return expected;
}

// Fuse rows as the fixture script wrote them.
inline std::vector<std::string> ExpectedRows(const std::string& images) {
  std::vector<std::string> rows;
  std::string text = ReadFile(images + "/variants/fuses.txt");
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    rows.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return rows;
}

// A fault in the simulator's text form; the test fails if it does not parse.
inline sim::Fault Fault(const char* text) {
  std::string error;
  auto f = sim::ParseFault(text, &error);
  EXPECT_TRUE(f.has_value()) << error;
  return f.value_or(sim::Fault{});
}

class FlowTest : public ::testing::Test {
 protected:
  // The simulator listens at 115200 bit/s and the dialog asks for 115200, so
  // a connection costs one speed probe (and its 300 ms pause).
  static sim::SimulatorOptions DefaultSim() {
    sim::SimulatorOptions o;
    o.rate = 115200;
    return o;
  }

  // A probe one version behind the default images (1.02 and 1.01): firmware
  // 1.01, logic 1.00, so that Update programs both.
  static sim::SimulatorOptions ProbeBehindImages() {
    sim::SimulatorOptions o = DefaultSim();
    o.model.firmware_version = 101;
    o.model.logic_version = 100;
    return o;
  }

  void SetUp() override {
    UseImages(Images());
    ui_.controls.port_index = 0;
    ui_.controls.speed_index = 4;
    ui_.controls.ip_address = "192.168.1.10";
    ui_.controls.subnet_mask = "255.255.255.0";
    ui_.controls.gateway = "192.168.1.1";
    state_.port_index = 0;
    state_.speed_index = 4;
    state_.ip_address = ui_.controls.ip_address;
    state_.subnet_mask = ui_.controls.subnet_mask;
    state_.gateway = ui_.controls.gateway;
  }

  void TearDown() override {
    LinkClose();
    SetImageDirectory("");
    ClearPortDevices();
    // Every path switches the wait cursor off as often as on.
    EXPECT_EQ(ui_.wait_depth, 0);
    EXPECT_FALSE(ui_.wait_underflow);
  }

  void UseImages(const std::string& dir) { SetImageDirectory(dir); }

  void StartSim(sim::SimulatorOptions options = DefaultSim()) {
    sim_ = std::make_unique<sim::Simulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    SetPortDevice(1, sim_->DevicePath());  // COM1, port index 0
  }

  // Opens the dialog and connects; the test fails unless Connect passed.
  void OpenAndConnect() {
    OpenDialog(ui_, state_);
    ConnectCommand(ui_, state_);
    ASSERT_EQ(ui_.status, "Connecting to KRT Loader passed!")
        << ::testing::PrintToString(ui_.Boxes());
    ui_.events.clear();
    ui_.wait_calls = 0;
    sim_->ClearLog();
  }

  // Codes of the requests the simulator received since its log was cleared.
  std::vector<int> RequestCodes() const {
    std::vector<int> codes;
    for (const auto& r : sim_->Requests()) codes.push_back(r.code);
    return codes;
  }
  // Requests of `code` that reached the line, answered or not.
  int CountMessages(int code) const {
    int n = 0;
    for (const auto& m : sim_->Messages()) {
      n += m.kind == sim::MessageKind::kRequest && !m.payload.empty() && m.payload[0] == code;
    }
    return n;
  }
  int CountRequests(int code) const {
    int n = 0;
    for (int c : RequestCodes()) n += c == code;
    return n;
  }

  RecordingUi ui_;
  DialogState state_;
  std::unique_ptr<sim::Simulator> sim_;
};

}  // namespace krt::test
