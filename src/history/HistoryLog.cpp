#include "HistoryLog.h"

namespace vantor {

Q_LOGGING_CATEGORY(lcHistory, "vantor.history", QtWarningMsg)

}  // namespace vantor
