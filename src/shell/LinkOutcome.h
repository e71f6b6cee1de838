#pragma once
#include "LinkStatus.h"

namespace vantor {

// The message row a person is shown for how an operation on the line ended:
// 41 read, 40 done, 39 for every way it can fail. The window's status panel
// 0, its pages and vantorctl all go through this.
int OutcomeRow(LinkStatus status);

}  // namespace vantor
