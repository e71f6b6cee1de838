#include "LinkLog.h"

namespace vantor {

Q_LOGGING_CATEGORY(lcLink, "vantor.link", QtWarningMsg)

}  // namespace vantor
