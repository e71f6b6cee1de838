#pragma once
#include <QLoggingCategory>

namespace vantor {

// The serial line: ports opened, refused, lost and back, the trace. Quiet
// unless Qt's logging rules turn it on (QT_LOGGING_RULES="vantor.link.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcLink)

}  // namespace vantor
