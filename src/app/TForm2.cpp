#include "TForm2.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "WindowStyle.h"

namespace vantor {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(QStringLiteral("Установление связи"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(WindowFont());
  setFixedSize(241, 133);

  Label1 = new QLabel(QStringLiteral("COM-порт"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(16, 10);
  Label1->adjustSize();

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  for (int port = 1; port <= 20; ++port) {
    ComboBox1->addItem(QString::number(port));
  }
  ComboBox1->setCurrentIndex(0);
  ComboBox1->setGeometry(16, 26, 89, 21);

  Button1 = new QPushButton(QStringLiteral("Ок"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(120, 24, 105, 25);
  Button1->setDefault(true);

  Button2 = new QPushButton(QStringLiteral("Автоопределение"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(120, 56, 105, 25);

  Label2 = new QLabel(QStringLiteral("Поиск..."), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->move(16, 88);
  Label2->adjustSize();

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 255);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setGeometry(16, 104, 209, 17);

  CenterOnScreen(this);
}

}  // namespace vantor
