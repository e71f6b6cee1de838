#pragma once
#include <QLoggingCategory>

namespace vantor {

// The history: where it is, and what could not be written. Quiet unless
// Qt's logging rules turn it on.
Q_DECLARE_LOGGING_CATEGORY(lcHistory)

}  // namespace vantor
