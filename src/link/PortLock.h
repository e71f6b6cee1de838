#pragma once
#include <QString>
#include <cstdint>

namespace vantor {

// The lock file the serial port library keeps for an open device
// (LCK..ttyUSB0 in the system's lock directory, holding the owner's process
// id). A program that ended without closing its port, or a terminal name
// used again for a new terminal, leaves one that no longer stands for
// anybody's use of this device.
struct PortLockLook {
  enum class State : uint8_t {
    Free,       // no lock, or one taken over (removed)
    Held,       // a live program holds it: the open says busy
    StaleKept,  // stale, but the user may not remove it
  };
  State Result = State::Free;
  QString File;   // the lock file
  QString Owner;  // the user who owns it (StaleKept)
};

// Where the lock file of the device at `devicePath` is, or would be; empty
// on a system without a usable lock directory.
QString PortLockFile(const QString& devicePath);

// Looks at the device's lock file before it is opened: one whose process is
// gone, or that is older than the device itself (left for an earlier
// terminal of the same name), is removed where the user may remove it.
// `lockDirectory` replaces the system's, for tests.
PortLockLook TakeOverStaleLock(const QString& devicePath, const QString& lockDirectory = {});

// The user who owns `file`; empty when it is not there.
QString FileOwner(const QString& file);

}  // namespace vantor
