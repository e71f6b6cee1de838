#pragma once
#include <QDialog>
#include <cstdint>
#include <set>
#include <vector>

#include "PortMap.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vantor {

// The connection dialog: a port to try, or a search over all ports with a
// progress bar. Its designed texts are Russian in both languages. Under the
// port list it says, in the program's language, which device the selected
// number names in the port map.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  // The language of the device descriptions (0 Russian, 1 English).
  void ApplyLanguage(uint8_t language);

  // "Ок": connect on the chosen port.
  void Button1Click();
  // "Автоопределение": search every port.
  void Button2Click();

  // The choice of the last button pressed: 0 the chosen port, 1 search.
  // Closing the dialog in any other way leaves it as it was.
  uint8_t ConnectMode = 0;

  // The port the list names: selected position + 1, 0 with no selection.
  int ChosenPort() const;
  // Selects `port` in the list, extending the list up to it when needed;
  // 0 selects the first item.
  void SelectPort(int port);
  // Extends the list up to the highest number the port map knows and
  // describes each number from the map as it is now.
  void RefreshPortList();
  // What the last search found of the ports other programs hold: they read
  // "held by another program" under the list. A search over every port
  // (`chosenPort` 0) replaces the marks; one on a chosen port changes only
  // that port's.
  void MarkBusyPorts(const std::vector<int>& busy, int chosenPort);
  bool PortMarkedBusy(int port) const { return busy_.count(port) != 0; }

  QLabel* Label1 = nullptr;              // "COM-порт"
  QComboBox* ComboBox1 = nullptr;        // ports "1".."20"; position + 1 is the port
  QPushButton* Button1 = nullptr;        // "Ок": connect on the chosen port
  QPushButton* Button2 = nullptr;        // "Автоопределение": search all ports
  QLabel* Label2 = nullptr;              // "Поиск..."
  QProgressBar* ProgressBar1 = nullptr;  // the port being tried, 0..255
  QLabel* Label3 = nullptr;              // the device the selected number names

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void DescribeSelection();
  void ExtendList(int port);
  QString EntryToolTip(const PortEntry& entry) const;

  uint8_t language_ = 0;
  std::vector<PortEntry> entries_;  // the port map as the list was last refreshed
  std::set<int> busy_;              // held by another program at the last search
};

}  // namespace vantor
