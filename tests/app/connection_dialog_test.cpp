// The connection dialog on its own: what it says about each port number and
// how the list follows the port map.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTextDocument>

#include "PortMap.h"
#include "PseudoTerminal.h"
#include "TForm2.h"
#include "TempConfigHome.h"

namespace vantor {
namespace {

TEST(ConnectionDialog, DescribesTheSelectedNumberFromThePortMapInTheProgramsLanguage) {
  TempConfigHome home;
  PinPort(3, QStringLiteral("/dev/ttyUSB7"));  // an adapter that is not plugged in
  PinPort(30, QStringLiteral("/dev/null"));
  // A pseudo-terminal with nothing answering on it.
  sim::PseudoTerminal silent([](const uint8_t*, size_t) {});
  ASSERT_TRUE(silent.Open());
  const QString pty = QString::fromStdString(silent.SlavePath());
  PinPort(5, pty);
  TForm2 dialog;
  dialog.show();

  // The list reaches the highest mapped number; positions still name ports.
  ASSERT_EQ(dialog.ComboBox1->count(), 30);
  EXPECT_EQ(dialog.ComboBox1->itemText(29), "30");
  EXPECT_EQ(dialog.ComboBox1->currentIndex(), 0);
  EXPECT_EQ(dialog.Label3->text(), "нет такого порта");

  dialog.ComboBox1->setCurrentIndex(2);
  EXPECT_EQ(dialog.ChosenPort(), 3);
  EXPECT_EQ(dialog.Label3->text(), "/dev/ttyUSB7\nне подключено");
  dialog.ComboBox1->setCurrentIndex(4);
  EXPECT_EQ(dialog.Label3->text(), pty + "\nпсевдотерминал");

  // The device line follows the language; the designed captions stay.
  dialog.ApplyLanguage(1);
  EXPECT_EQ(dialog.Label3->text(), pty + "\npseudo-terminal");
  EXPECT_EQ(dialog.Label3->toolTip(), "COM5 \u2014 " + pty + ", pseudo-terminal");
  EXPECT_EQ(dialog.ComboBox1->itemData(2, Qt::ToolTipRole).toString(),
            "COM3 \u2014 /dev/ttyUSB7, not connected");
  EXPECT_EQ(dialog.ComboBox1->itemData(0, Qt::ToolTipRole).toString(), "COM1 \u2014 no such port");
  EXPECT_EQ(dialog.Button2->text(), "Автоопределение");
  EXPECT_EQ(dialog.windowTitle(), "Установление связи");

  dialog.ComboBox1->setCurrentIndex(-1);
  EXPECT_EQ(dialog.ChosenPort(), 0);
  EXPECT_TRUE(dialog.Label3->text().isEmpty());

  // A port mapped after the dialog was built shows when it opens again.
  dialog.hide();
  PinPort(41, QStringLiteral("/dev/null"));
  dialog.show();
  EXPECT_EQ(dialog.ComboBox1->count(), 41);
}

// A device path is the user's file name: a tooltip shows it as it is, even
// when it looks like markup.
TEST(ConnectionDialog, ATooltipShowsADevicePathThatLooksLikeMarkupLiterally) {
  TempConfigHome home;
  const QString device = home.Path() + QStringLiteral("/<b>tty</b>");
  PinPort(2, device);
  TForm2 dialog;
  dialog.ComboBox1->setCurrentIndex(1);
  for (const QString& tip :
       {dialog.Label3->toolTip(), dialog.ComboBox1->itemData(1, Qt::ToolTipRole).toString()}) {
    QTextDocument shown;
    if (Qt::mightBeRichText(tip)) {
      shown.setHtml(tip);
    } else {
      shown.setPlainText(tip);
    }
    EXPECT_TRUE(shown.toPlainText().contains(device)) << tip.toStdString();
  }
}

}  // namespace
}  // namespace vantor
