// The slot-size group: "Inventory slots" and the items whose alternatives
// follow the slot size chosen there. Their ids and names are written here
// once; the catalogue, the Setup dialogue and the settings-file check take
// them from here.
#ifndef VRDSKINCFG_SLOTSIZEGROUP_H
#define VRDSKINCFG_SLOTSIZEGROUP_H

#include <cstdint>

namespace slotsizegroup {

struct Item {
  int32_t id;  // as settings files store it
  const char* name;
};

constexpr Item kSlots = {2, "Inventory slots"};
// Never asked: its alternative is the one of the chosen slot size.
constexpr Item kTradeWindow = {3, "Trade/give window"};
// Asked right after the slot size, in this order, offering only its size.
constexpr Item kLayouts[] = {{4, "Inventory layout"}, {5, "Small Inventory layout"}};

// Without a setting for every member a settings file cannot be applied:
// the layouts could not be made to agree with the slot size.
constexpr bool Contains(int32_t id) {
  for (const Item& layout : kLayouts) {
    if (layout.id == id) return true;
  }
  return id == kSlots.id || id == kTradeWindow.id;
}

}  // namespace slotsizegroup

#endif
