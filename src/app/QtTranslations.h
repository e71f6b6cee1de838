#pragma once
#include <cstdint>

namespace vantor {

// Qt's own texts (the file dialog, message-box buttons, the system's error
// texts) in the program's language: Qt's Russian translation while Russian
// is chosen (language 0), Qt's own English otherwise. Returns whether Qt's
// texts are in that language now; the Russian translation comes with the
// system's Qt translations and may be missing. Needs the application object.
bool UseQtTranslations(uint8_t language);

}  // namespace vantor
