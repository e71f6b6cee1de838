#pragma once
#include <QString>
#include <cstdint>
#include <optional>

namespace vantor {

// How one operation on the line ended, as far as the link can tell. The
// front ends decide what a person is shown for each.
enum class LinkStatus : uint8_t {
  Read,      // the reply carried the value asked for
  Written,   // the instrument acknowledged the value sent
  Timeout,   // nothing came back in time
  Damaged,   // bytes came, but no whole reply that fits the request
  Refused,   // an intact error reply: the instrument did not act on it
  Unsent,    // the request did not get out (a stuck port)
  PortGone,  // the device went away and is not back
  NoPort,    // no port is open
};

constexpr bool Succeeded(LinkStatus status) {
  return status == LinkStatus::Read || status == LinkStatus::Written;
}

// "read", "written", "timeout", "damaged", "refused", "unsent", "port-gone",
// "no-port": the status as a trace names it.
QString LinkStatusName(LinkStatus status);
std::optional<LinkStatus> LinkStatusFromName(const QString& name);

}  // namespace vantor
