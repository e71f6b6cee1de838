#include "TForm2.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "ConnectionManager.h"
#include "MessageTable.h"
#include "PortMap.h"
#include "PortSearch.h"
#include "WindowStyle.h"

namespace vantor {
namespace {

constexpr int DesignedItems = 20;
// Tooltip of a number that names no device at the moment.
QString NoSuchPortText(int port, uint8_t language) {
  return QStringLiteral("COM%1 \u2014 %2").arg(port).arg(MessageText(RowPortMissing, language));
}

}  // namespace

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
  for (int port = 1; port <= DesignedItems; ++port) {
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

  // Two short lines under the list: the device path and what it is.
  Label3 = new QLabel(this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(16, 51, 98, 30);
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label3->setTextFormat(Qt::PlainText);

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

  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TForm2::DescribeSelection);

  RefreshPortList();
  CenterOnScreen(this);
}

void TForm2::ApplyLanguage(uint8_t language) {
  language_ = language;
  RefreshPortList();
}

void TForm2::Button1Click() {
  ConnectMode = ConnectChosenPort;
  accept();
}

void TForm2::Button2Click() {
  ConnectMode = ConnectAutoDetect;
  accept();
}

int TForm2::ChosenPort() const {
  return ComboBox1->currentIndex() + 1;
}

void TForm2::ExtendList(int port) {
  port = std::min(port, LastPortNumber);
  while (ComboBox1->count() < port) {
    const int number = ComboBox1->count() + 1;
    ComboBox1->addItem(QString::number(number));
    ComboBox1->setItemData(number - 1, NoSuchPortText(number, language_), Qt::ToolTipRole);
  }
}

void TForm2::SelectPort(int port) {
  if (port < FirstPortNumber || port > LastPortNumber) {
    ComboBox1->setCurrentIndex(0);
    return;
  }
  ExtendList(port);
  ComboBox1->setCurrentIndex(port - 1);
}

void TForm2::MarkBusyPorts(const std::vector<int>& busy, int chosenPort) {
  if (chosenPort == 0) {
    busy_.clear();
  } else {
    busy_.erase(chosenPort);
  }
  busy_.insert(busy.begin(), busy.end());
  RefreshPortList();
}

void TForm2::RefreshPortList() {
  // The adapters by name: what the user sees on the plug and the box.
  entries_ = PortMapEntries();
  IdentifyPorts(entries_);
  const std::vector<PortEntry>& entries = entries_;
  if (!entries.empty()) {
    ExtendList(entries.back().Number);
  }
  for (int i = 0; i < ComboBox1->count(); ++i) {
    ComboBox1->setItemData(i, NoSuchPortText(i + 1, language_), Qt::ToolTipRole);
  }
  for (const PortEntry& entry : entries) {
    if (entry.Number <= ComboBox1->count()) {
      ComboBox1->setItemData(entry.Number - 1, PlainToolTip(EntryToolTip(entry)), Qt::ToolTipRole);
    }
  }
  DescribeSelection();
}

void TForm2::DescribeSelection() {
  const int port = ChosenPort();
  QString path;
  QString what;
  if (port >= FirstPortNumber) {
    const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                    [port](const PortEntry& e) { return e.Number == port; });
    if (entry != entries_.end()) {
      path = entry->DevicePath;
      // A port the user may not open says so first: nothing else helps;
      // then one another program held when it was last tried.
      if (entry->NoPermission) {
        what = MessageText(RowPortNoAccess, language_);
      } else if (PortMarkedBusy(port)) {
        what = MessageText(RowPortHeld, language_);
      } else {
        what = PortDescription(*entry, language_);
      }
      Label3->setToolTip(PlainToolTip(EntryToolTip(*entry)));
    } else {
      what = MessageText(RowPortMissing, language_);
      Label3->setToolTip(NoSuchPortText(port, language_));
    }
  } else {
    Label3->setToolTip(QString());
  }
  const QFontMetrics metrics(Label3->font());
  const int width = Label3->width();
  QString text = metrics.elidedText(path, Qt::ElideMiddle, width);
  if (!what.isEmpty()) {
    if (!text.isEmpty()) {
      text += '\n';
    }
    text += metrics.elidedText(what, Qt::ElideRight, width);
  }
  Label3->setText(text);
}

QString TForm2::EntryToolTip(const PortEntry& entry) const {
  QString text = PortEntryText(entry, language_);
  const QString device = entry.Device.isEmpty() ? entry.DevicePath : entry.Device;
  if (entry.NoPermission) {
    text += QLatin1Char('\n') +
            PortRefusalText(OpenFailure::PermissionDenied, entry.Number, device, language_);
  } else if (PortMarkedBusy(entry.Number)) {
    text += QLatin1Char('\n') + PortRefusalText(OpenFailure::Busy, entry.Number, device, language_);
  }
  return text;
}

void TForm2::showEvent(QShowEvent* event) {
  RefreshPortList();
  QDialog::showEvent(event);
}

}  // namespace vantor
