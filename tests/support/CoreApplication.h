#pragma once

namespace vantor::test {

// Makes sure a QCoreApplication exists (creating one that lives until the
// end of the process when none does), for tests that use Qt classes such as
// QSerialPort without any window.
void EnsureCoreApplication();

}  // namespace vantor::test
