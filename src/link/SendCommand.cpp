#include "SendCommand.h"

#include "DeviceLink.h"
#include "Dictionary.h"

namespace vantor {

bool SendCommand(DeviceLink& link, uint8_t command, bool retry) {
  link.Values().Command = command;
  return (retry ? link.WriteVariableWithRetry(IdCommandAlias)
                : link.WriteVariable(IdCommandAlias)) != 0;
}

}  // namespace vantor
