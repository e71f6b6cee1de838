#include "PlatformLog.h"

namespace vantor {

Q_LOGGING_CATEGORY(lcPlatform, "vantor.platform", QtWarningMsg)

}  // namespace vantor
