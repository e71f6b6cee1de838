#pragma once
#include <cstdint>

namespace vantor {

class DeviceLink;

// Tells the instrument to act (reset the dose, erase the archive, start an
// archive transfer, restore its factory settings): the command byte is set,
// then variable 8 is written, named by 7 as every caller names it. One
// exchange, or up to 21 attempts with `retry`. True when the instrument
// acknowledged; the outcome row goes to the link's outcome handler as for
// any write.
bool SendCommand(DeviceLink& link, uint8_t command, bool retry = false);

}  // namespace vantor
