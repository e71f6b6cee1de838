#pragma once
#include <QDialog>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vantor {

// The connection dialog: a port to try, or a search over all ports with a
// progress bar. Its texts are Russian in both languages.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;              // "COM-порт"
  QComboBox* ComboBox1 = nullptr;        // ports "1".."20"; position + 1 is the port
  QPushButton* Button1 = nullptr;        // "Ок": connect on the chosen port
  QPushButton* Button2 = nullptr;        // "Автоопределение": search all ports
  QLabel* Label2 = nullptr;              // "Поиск..."
  QProgressBar* ProgressBar1 = nullptr;  // the port being tried, 0..255
};

}  // namespace vantor
