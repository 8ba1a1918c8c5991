// The dialog's data exchange, written once for every face of the dialog: a
// DialogUi that can read and write its controls' raw values derives from
// ExchangingDialogUi and gets the exchange with its validation and messages.
#pragma once

#include <string>

#include "app/dialog_ui.h"

namespace krt {

// Longest text the address edit boxes take.
inline constexpr std::size_t kAddressTextLimit = 15;

// What the controls hold: the list selections (-1 for none) and the texts of
// the address boxes and the serial-number and MAC address texts.
struct ControlValues {
  int port_index = -1;
  int speed_index = -1;
  std::string ip_address;
  std::string serial_number;
  std::string subnet_mask;
  std::string gateway;
  std::string mac_address;
};

// What the members-to-controls exchange puts into the controls.
ControlValues ControlValuesOf(const DialogState& state);

class ExchangingDialogUi : public DialogUi {
 public:
  // In the dialog's order: the two selections, then the IP address (at most
  // 15 characters), the serial number, the subnet mask (at most 15), the
  // gateway (at most 15), the MAC address; a text over its limit stops the
  // exchange with "Please enter no more than 15 characters." right after it
  // was taken. Last, an IP address that ParseDottedQuad refuses gives
  // "Invalid IP address!".
  bool ExchangeFromControls(DialogState& state) final;
  void ExchangeToControls(const DialogState& state) final;

 protected:
  virtual ControlValues ReadControls() = 0;
  virtual void WriteControls(const ControlValues& values) = 0;
};

}  // namespace krt
