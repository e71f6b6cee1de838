// ports: the port map, its adapters, and pinning a COM number to a device.
#include "CommandTable.h"
#include "PortMap.h"

namespace vantor::cli {
namespace {

// --pin N PATH takes the PATH as its argument; otherwise ports takes none.
QString PortsArguments(const QCommandLineParser& line, CommandOptions& c) {
  for (const auto& [name, number] : {std::pair{"pin", &c.Pin}, std::pair{"unpin", &c.Unpin}}) {
    if (line.isSet(QLatin1String(name))) {
      bool ok = true;
      *number = line.value(QLatin1String(name)).toInt(&ok);
      if (!ok || *number < FirstPortNumber || *number > LastPortNumber) {
        return QStringLiteral("--%1 needs a COM number from 1 to 254").arg(QLatin1String(name));
      }
    }
  }
  if (c.Pin != 0 && c.Unpin != 0) {
    return QStringLiteral("--pin and --unpin: one at a time");
  }
  if (c.Pin != 0) {
    return c.Words.size() == 1 ? QString() : QStringLiteral("ports --pin N needs the PATH to pin");
  }
  return c.Words.isEmpty() ? QString() : QStringLiteral("ports takes no further arguments");
}

QString PortsOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.Probe = line.isSet(QStringLiteral("probe"));
  return {};
}

}  // namespace

std::vector<CommandForm> PortsCommands() {
  CommandForm ports;
  ports.Words = QStringList{"ports"};
  ports.Usage = {
      {{"ports [--probe]"},
       {"the COM numbers of the port map, their devices",
        "and the adapters' maker, product, serial number",
        "and /dev/serial/by-id/ name; --probe asks each",
        "one whether the instrument answers there"}},
      {{"ports --pin N PATH"},
       {"pins COM N to PATH in the port map, best a",
        "/dev/serial/by-id/ name, which stays with the", "adapter whichever USB socket it is in"}},
      {{"ports --unpin N"}, {"takes COM N out of the port map"}},
  };
  ports.Options = {
      {"probe", "ports: asks each port for the instrument."},
      {"pin", "ports: pins COM N to the PATH that follows.", "N"},
      {"unpin", "ports: takes COM N out of the port map.", "N"},
  };
  ports.Run = &PortsCommand;
  ports.NeedsInstrument = false;
  ports.CheckArguments = &PortsArguments;
  ports.ReadOptions = &PortsOptions;
  return {ports};
}

}  // namespace vantor::cli
