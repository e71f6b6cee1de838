// vantor-sim: a virtual dosimeter on a pseudo-terminal, pinned as a COM port
// in the port map, for trying the program without hardware.

#include <signal.h>

#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VirtualInstrument.h"

using namespace vantor;
using namespace vantor::sim;

namespace {

void PrintHelp() {
  std::printf(
      "Usage: vantor-sim --com N [options]\n"
      "\n"
      "Opens a pseudo-terminal, pins it as COM N in the port map\n"
      "($XDG_CONFIG_HOME/vantor/ports, default ~/.config/vantor/ports), prints the\n"
      "terminal's path as the first line of output and answers the dosimeter\n"
      "protocol on it, measuring once a second, until SIGINT or SIGTERM; then the\n"
      "COM entry is removed again (or put back as it was before).\n"
      "\n"
      "Options:\n"
      "  --com N               COM number to pin, 1..254 (required)\n"
      "  --background USVH     dose rate of the surroundings in uSv/h (default 0.12)\n"
      "  --mode M              measurement mode 0..4 (default 0)\n"
      "  --latency MS          delay before every reply in milliseconds (default 0)\n"
      "  --header-pause MS     pause between a reply's header and the rest of it\n"
      "  --unpaced             send each reply at once instead of at the line rate\n"
      "                        (115200 baud, 86.8 us a byte)\n"
      "  --default-terminal    leave the terminal at the kernel's default settings\n"
      "                        (XON/XOFF, echo) for the program to set up\n"
      "  --archive COUNT[,RUNS]  start with COUNT archive records (separators\n"
      "                        included, at most 1350) in RUNS runs (default 1)\n"
      "  --archive-period S    archive recording period in seconds (default 60)\n"
      "  --archive-steps USVH  the prefilled archive's readings in steps of USVH\n"
      "  --clock-back S        the prefilled archive's clock set back S seconds\n"
      "                        half way, so moments repeat (3600: summer time)\n"
      "  --firmware TEXT       firmware text, at most 20 characters\n"
      "  --serial TEXT         serial number at the start of the device data\n"
      "                        (variable 12), at most 12 characters (default\n"
      "                        SN004711), so instruments side by side differ\n"
      "  --clock-offset S      instrument clock this many seconds ahead of the\n"
      "                        computer's (negative: behind)\n"
      "  --seed N              seed of the counting statistics\n"
      "  --fault KIND[:ID][@P] spoil replies: KIND is silence (request lost),\n"
      "                        garble, stray (a byte before the reply), cut, lost\n"
      "                        (the reply is lost on the way), error (refused),\n"
      "                        late=MS (the reply comes MS late and holds up the\n"
      "                        replies after it), ack (a bare acknowledgement,\n"
      "                        request not acted on), other (a reply for another\n"
      "                        variable, request not acted on) or other-acted\n"
      "                        (the same, request acted on);\n"
      "                        ID limits it to one variable id; P is the share of\n"
      "                        replies hit, 0..1 (default every reply). May be\n"
      "                        given more than once. As on a real line, the\n"
      "                        instrument acts on a request whose reply is then\n"
      "                        spoilt or lost.\n"
      "  --help                this text\n"
      "\n"
      "While running, SIGUSR1 unplugs the instrument (its terminal goes away) and\n"
      "the next SIGUSR1 plugs it in again on a new terminal under the same COM\n"
      "number; the new path is written to standard output.\n");
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "vantor-sim: %s (see --help)\n", message.c_str());
  std::exit(2);
}

double ParseDouble(const char* text, const char* option) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0') {
    Fail(std::string("bad number for ") + option + ": " + text);
  }
  return value;
}

long ParseLong(const char* text, const char* option) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') {
    Fail(std::string("bad number for ") + option + ": " + text);
  }
  return value;
}

FaultRule ParseFault(const std::string& spec) {
  FaultRule rule;
  std::string kind = spec;
  const size_t at = kind.find('@');
  if (at != std::string::npos) {
    rule.Probability = ParseDouble(kind.c_str() + at + 1, "--fault");
    kind.resize(at);
  }
  const size_t colon = kind.find(':');
  if (colon != std::string::npos) {
    rule.Id = static_cast<int>(ParseLong(kind.c_str() + colon + 1, "--fault"));
    if (rule.Id < 0 || rule.Id > 255) {
      Fail("variable id out of range in --fault " + spec);
    }
    kind.resize(colon);
  }
  if (kind == "silence") {
    rule.Kind = Fault::Silence;
  } else if (kind == "garble") {
    rule.Kind = Fault::Garble;
  } else if (kind == "stray") {
    rule.Kind = Fault::StrayByte;
  } else if (kind == "cut") {
    rule.Kind = Fault::Cut;
  } else if (kind == "error") {
    rule.Kind = Fault::ErrorReply;
  } else if (kind == "lost") {
    rule.Kind = Fault::LostReply;
  } else if (kind.rfind("late=", 0) == 0) {
    rule.Kind = Fault::Late;
    rule.Delay = std::chrono::milliseconds(ParseLong(kind.c_str() + 5, "--fault"));
    if (rule.Delay.count() < 0) {
      Fail("negative delay in --fault " + spec);
    }
  } else if (kind == "ack") {
    rule.Kind = Fault::BareAck;
  } else if (kind == "other") {
    rule.Kind = Fault::OtherVariable;
  } else if (kind == "other-acted") {
    rule.Kind = Fault::OtherVariableActedOn;
  } else {
    Fail("unknown fault: " + spec);
  }
  return rule;
}

}  // namespace

int main(int argc, char** argv) {
  int com = 0;
  double background = DefaultBackground;
  int mode = 0;
  long latency = 0;
  int archiveCount = 0;
  int archiveRuns = 1;
  ArchiveShape shape;
  long archivePeriod = -1;
  const char* firmware = nullptr;
  const char* serial = nullptr;
  bool haveOffset = false;
  long clockOffset = 0;
  bool haveSeed = false;
  unsigned long seed = 0;
  std::vector<FaultRule> faults;
  LineOptions line;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        Fail("missing value for " + arg);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--com") {
      com = static_cast<int>(ParseLong(value(), "--com"));
    } else if (arg == "--background") {
      background = ParseDouble(value(), "--background");
    } else if (arg == "--mode") {
      mode = static_cast<int>(ParseLong(value(), "--mode"));
    } else if (arg == "--latency") {
      latency = ParseLong(value(), "--latency");
    } else if (arg == "--header-pause") {
      const long pause = ParseLong(value(), "--header-pause");
      if (pause < 0) {
        Fail("option value out of range");
      }
      line.HeaderPause = std::chrono::milliseconds(pause);
    } else if (arg == "--unpaced") {
      line.Paced = false;
    } else if (arg == "--default-terminal") {
      line.KernelDefaultTerminal = true;
    } else if (arg == "--archive") {
      std::string spec = value();
      const size_t comma = spec.find(',');
      if (comma != std::string::npos) {
        archiveRuns = static_cast<int>(ParseLong(spec.c_str() + comma + 1, "--archive"));
        spec.resize(comma);
      }
      archiveCount = static_cast<int>(ParseLong(spec.c_str(), "--archive"));
    } else if (arg == "--archive-steps") {
      shape.Step = ParseDouble(value(), "--archive-steps");
    } else if (arg == "--clock-back") {
      shape.ClockBackSeconds = ParseLong(value(), "--clock-back");
    } else if (arg == "--archive-period") {
      archivePeriod = ParseLong(value(), "--archive-period");
    } else if (arg == "--firmware") {
      firmware = value();
    } else if (arg == "--serial") {
      serial = value();
      if (std::strlen(serial) > InstrumentModel::SerialLength) {
        Fail("--serial takes at most 12 characters");
      }
    } else if (arg == "--clock-offset") {
      haveOffset = true;
      clockOffset = ParseLong(value(), "--clock-offset");
    } else if (arg == "--seed") {
      haveSeed = true;
      seed = static_cast<unsigned long>(ParseLong(value(), "--seed"));
    } else if (arg == "--fault") {
      faults.push_back(ParseFault(value()));
    } else {
      Fail("unknown option " + arg);
    }
  }
  if (com < 1 || com > 254) {
    Fail("--com N with N from 1 to 254 is required");
  }
  if (mode < 0 || mode > 255 || latency < 0 || archiveCount < 0 || archiveRuns < 1 ||
      archivePeriod > 65535 || background < 0 || shape.Step < 0 || shape.ClockBackSeconds < 0) {
    Fail("option value out of range");
  }

  // The serving thread must not take the signals: main waits for them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  VirtualInstrument sim(VirtualInstrument::TimeMode::RealTime, line);
  sim.WithLock([&](InstrumentModel& m) {
    if (haveSeed) {
      m.SetSeed(static_cast<uint32_t>(seed));
    }
    if (firmware != nullptr) {
      m.SetFirmware(firmware);
    }
    if (serial != nullptr) {
      m.SetSerial(serial);
    }
    if (archivePeriod >= 0) {
      m.Values().Settings.ArchivePeriod = static_cast<uint16_t>(archivePeriod);
    }
    if (haveOffset) {
      m.SetClockOffset(clockOffset);
    }
    m.SetMeasurementMode(static_cast<uint16_t>(mode));
    m.SetBackground(background);
    m.SetLatency(std::chrono::milliseconds(latency));
    for (const FaultRule& rule : faults) {
      m.InjectFault(rule);
    }
    if (archiveCount > 0) {
      m.PrefillArchive(archiveCount, archiveRuns, shape);
    }
  });
  if (!sim.Plugged()) {
    std::fprintf(stderr, "vantor-sim: cannot open a pseudo-terminal\n");
    return 1;
  }
  if (!sim.PinAs(com)) {
    std::fprintf(stderr, "vantor-sim: cannot pin COM%d in the port map\n", com);
    return 1;
  }
  std::printf("%s\n", sim.PtyPath().c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "vantor-sim: serving as COM%d on %s; Ctrl+C ends\n", com,
               sim.PtyPath().c_str());

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) {
      continue;
    }
    if (signal == SIGUSR1) {
      if (sim.Plugged()) {
        sim.Unplug();
        std::fprintf(stderr, "vantor-sim: unplugged\n");
      } else if (sim.Plug()) {
        std::printf("%s\n", sim.PtyPath().c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "vantor-sim: plugged in again on %s\n", sim.PtyPath().c_str());
      }
      continue;
    }
    break;
  }
  return 0;  // the instrument's destructor removes the pin
}
