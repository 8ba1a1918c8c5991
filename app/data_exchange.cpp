#include "app/data_exchange.h"

#include "setup/dotted_quad.h"

namespace krt {
namespace {

// Takes `text` into `member`; false with the framework's message when it is
// longer than the box allows (the member keeps the long text, as the dialog's
// exchange leaves members partly updated).
bool TakeLimited(DialogUi& ui, const std::string& text, std::string& member) {
  member = text;
  if (text.size() <= kAddressTextLimit) return true;
  ui.ShowMessage("Please enter no more than " + std::to_string(kAddressTextLimit) + " characters.",
                 kAppTitle, MessageIcon::kExclamation);
  return false;
}

}  // namespace

bool ExchangingDialogUi::ExchangeFromControls(DialogState& state) {
  const ControlValues v = ReadControls();
  state.port_index = v.port_index;
  state.speed_index = v.speed_index;
  if (!TakeLimited(*this, v.ip_address, state.ip_address)) return false;
  state.serial_number = v.serial_number;
  if (!TakeLimited(*this, v.subnet_mask, state.subnet_mask)) return false;
  if (!TakeLimited(*this, v.gateway, state.gateway)) return false;
  state.mac_address = v.mac_address;
  if (ParseDottedQuad(state.ip_address) == -1) {
    ShowMessage("Invalid IP address!", kAppTitle, MessageIcon::kExclamation);
    return false;
  }
  return true;
}

ControlValues ControlValuesOf(const DialogState& state) {
  ControlValues v;
  v.port_index = state.port_index;
  v.speed_index = state.speed_index;
  v.ip_address = state.ip_address;
  v.serial_number = state.serial_number;
  v.subnet_mask = state.subnet_mask;
  v.gateway = state.gateway;
  v.mac_address = state.mac_address;
  return v;
}

void ExchangingDialogUi::ExchangeToControls(const DialogState& state) {
  WriteControls(ControlValuesOf(state));
}

}  // namespace krt
