#pragma once
#include <QLoggingCategory>

namespace vantor {

// The port map and the program's files. Quiet unless Qt's logging rules
// turn it on.
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

}  // namespace vantor
