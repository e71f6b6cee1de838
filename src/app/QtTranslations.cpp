#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace vantor {

bool UseQtTranslations(uint8_t language) {
  auto* app = QCoreApplication::instance();
  if (app == nullptr) {
    return false;
  }
  // One translator for the run, owned by the application object.
  static QTranslator* russian = nullptr;
  static bool loaded = false;
  static bool installed = false;
  if (russian == nullptr) {
    russian = new QTranslator(app);
    loaded = russian->load(QStringLiteral("qtbase_ru"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  }
  if (language == 1 || !loaded) {
    if (installed) {
      QCoreApplication::removeTranslator(russian);
      installed = false;
    }
    return language == 1;
  }
  if (!installed) {
    installed = QCoreApplication::installTranslator(russian);
  }
  return installed;
}

}  // namespace vantor
