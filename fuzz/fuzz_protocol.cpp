// Arbitrary bytes as a reply to the program and as a request to an
// instrument: nothing may read or write outside the frame buffer.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Station.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FrameBuffer frame;
  const size_t length = std::min(size, frame.size());

  Station host;
  host.InitDictionary();
  frame.fill(0xA5);
  std::memcpy(frame.data(), data, length);
  if (FindReplyStart(frame.data(), length, host.OwnAddressOnWire()) == 0) {
    host.ParseReply(frame, length);
  }
  const uint8_t requested = length > 0 ? host.LookupIndex(data[0]) : 0;
  std::memcpy(frame.data(), data, length);
  host.ParseReply(frame, length, requested);
  host.StoreReadReply(frame);

  Station device;
  device.SetOwnAddress(DefaultDeviceAddress);
  std::strcpy(device.Values.Firmware.data(), "fuzz 1.0");
  device.InitDictionary();
  size_t replied = 0;
  device.OnFrameReady = [&](const uint8_t*, size_t n) { replied = n; };
  std::memcpy(frame.data(), data, length);
  if (FindRequestStart(frame.data(), length, DefaultDeviceAddress) == 0) {
    device.HandleRequest(frame, length);
  }
  std::memcpy(frame.data(), data, length);
  device.HandleRequest(frame, length);
  if (replied > frame.size()) {
    __builtin_trap();
  }
  return 0;
}
