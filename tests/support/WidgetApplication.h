#pragma once

namespace vantor::test {

// Makes sure a QApplication exists for widget tests (creating one that lives
// until the end of the process when none does).
void EnsureApplication();

}  // namespace vantor::test
