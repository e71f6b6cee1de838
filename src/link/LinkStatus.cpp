#include "LinkStatus.h"

namespace vantor {
namespace {

struct StatusName {
  LinkStatus Status;
  const char* Name;
};
constexpr StatusName StatusNames[] = {
    {LinkStatus::Read, "read"},          {LinkStatus::Written, "written"},
    {LinkStatus::Timeout, "timeout"},    {LinkStatus::Damaged, "damaged"},
    {LinkStatus::Refused, "refused"},    {LinkStatus::Unsent, "unsent"},
    {LinkStatus::PortGone, "port-gone"}, {LinkStatus::NoPort, "no-port"},
};

}  // namespace

QString LinkStatusName(LinkStatus status) {
  for (const StatusName& name : StatusNames) {
    if (name.Status == status) {
      return QString::fromLatin1(name.Name);
    }
  }
  return QStringLiteral("unknown");
}

std::optional<LinkStatus> LinkStatusFromName(const QString& name) {
  for (const StatusName& known : StatusNames) {
    if (name == QLatin1String(known.Name)) {
      return known.Status;
    }
  }
  return std::nullopt;
}

}  // namespace vantor
