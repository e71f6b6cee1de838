#include <gtest/gtest.h>

#include <QScrollArea>

#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <memory>
#include <ostream>

#include "AppTestSupport.h"
#include "ProgramWindows.h"

using namespace vantor;
using vantor::test::WorkDir;

namespace {

// One control of the main window as designed: parent, name, the Qt class it
// must be (or derive from), left, top, width and height (-1 where the
// control sizes itself to its text), and whether it starts hidden.
struct Control {
  const char* parent;
  const char* name;
  const char* kind;
  int x, y, w, h;
  bool hidden = false;
};

void PrintTo(const Control& control, std::ostream* out) {
  *out << control.name;
}

constexpr int Auto = -1;

const Control Inventory[] = {
    {"window", "PageControl1", "QTabWidget", 0, 0, 945, 511},
    {"window", "Label14", "QLabel", 176, 517, Auto, Auto},
    {"window", "Label15", "QLabel", 873, 517, Auto, Auto},
    {"window", "StatusBar1", "QStatusBar", 0, 536, 953, 19},
    {"PageControl1", "TabSheet1", "QWidget", Auto, Auto, Auto, Auto},
    {"PageControl1", "TabSheet2", "QWidget", Auto, Auto, Auto, Auto},
    {"PageControl1", "TabSheet3", "QWidget", Auto, Auto, Auto, Auto},
    {"TabSheet1", "Panel1", "QWidget", 0, 3, 934, 110},
    {"Panel1", "Label1", "QLabel", 19, 8, Auto, Auto},
    {"Panel1", "Label2", "QLabel", 79, 5, Auto, Auto},
    {"Panel1", "Label3", "QLabel", 137, 8, Auto, Auto},
    {"Panel1", "Image1", "QWidget", 249, 15, 16, 13, true},
    {"Panel1", "Label4", "QLabel", 263, 8, Auto, Auto},
    {"Panel1", "Label5", "QLabel", 19, 41, Auto, Auto},
    {"Panel1", "Label6", "QLabel", 79, 37, Auto, Auto},
    {"Panel1", "Label7", "QLabel", 137, 41, Auto, Auto},
    {"Panel1", "Label8", "QLabel", 19, 74, Auto, Auto},
    {"Panel1", "Label9", "QLabel", 156, 71, Auto, Auto},
    {"Panel1", "CheckBox1", "QCheckBox", 376, 12, 97, 17},
    {"Panel1", "Button3", "QPushButton", 360, 40, 121, 25},
    {"Panel1", "Button6", "QPushButton", 360, 71, 121, 25},
    {"TabSheet1", "Chart1", "QChartView", 0, 119, 934, 368},
    {"TabSheet2", "Label11", "QLabel", 19, 17, Auto, Auto},
    {"TabSheet2", "StringGrid2", "QAbstractItemView", 14, 36, 244, 67},
    {"TabSheet2", "Label12", "QLabel", 282, 16, Auto, Auto},
    {"TabSheet2", "StringGrid5", "QAbstractItemView", 282, 35, 244, 67},
    {"TabSheet2", "Label10", "QLabel", 21, 125, Auto, Auto},
    {"TabSheet2", "ComboBox3", "QComboBox", 19, 144, 145, 21},
    {"TabSheet2", "Label13", "QLabel", 282, 125, Auto, Auto},
    {"TabSheet2", "ComboBox4", "QComboBox", 282, 144, 145, 21},
    {"TabSheet2", "LabeledEdit1", "QLineEdit", 19, 200, 121, 21},
    {"TabSheet2", "Label33", "QLabel", 19, 246, Auto, Auto},
    {"TabSheet2", "ComboBox1", "QComboBox", 19, 265, 145, 21},
    {"TabSheet2", "Label32", "QLabel", 21, 296, Auto, Auto},
    {"TabSheet2", "ComboBox2", "QComboBox", 19, 313, 145, 21},
    {"TabSheet2", "Label36", "QLabel", 21, 361, Auto, Auto},
    {"TabSheet2", "TrackBar1", "QSlider", 14, 380, 150, 45},
    {"TabSheet2", "GroupBox4", "QGroupBox", 203, 261, 128, 150, true},
    {"GroupBox4", "CheckBox6", "QCheckBox", Auto, Auto, Auto, Auto},
    {"GroupBox4", "CheckBox7", "QCheckBox", Auto, Auto, Auto, Auto},
    {"GroupBox4", "CheckBox8", "QCheckBox", Auto, Auto, Auto, Auto},
    {"GroupBox4", "CheckBox9", "QCheckBox", Auto, Auto, Auto, Auto},
    {"GroupBox4", "CheckBox10", "QCheckBox", Auto, Auto, Auto, Auto},
    {"TabSheet2", "Button1", "QPushButton", 21, 431, 87, 25},
    {"TabSheet2", "Button2", "QPushButton", 142, 431, 88, 25},
    {"TabSheet2", "Button13", "QPushButton", 265, 431, 75, 25},
    {"TabSheet2", "StringGrid1", "QAbstractItemView", 561, 35, 352, 322},
    {"TabSheet2", "Button8", "QPushButton", 561, 373, 75, 25},
    {"TabSheet2", "Button7", "QPushButton", 791, 373, 129, 25},
    {"TabSheet3", "Button4", "QPushButton", 3, 18, 94, 25},
    {"TabSheet3", "Button5", "QPushButton", 142, 18, 97, 25},
    {"TabSheet3", "ProgressBar2", "QProgressBar", 264, 22, 145, 17, true},
    {"TabSheet3", "BitBtn1", "QAbstractButton", 422, 18, 25, 17},
    {"TabSheet3", "Label58", "QLabel", 463, 3, Auto, Auto},
    {"TabSheet3", "Edit6", "QLineEdit", 453, 16, 64, 21},
    {"TabSheet3", "BitBtn2", "QAbstractButton", 523, 18, 25, 17},
    {"TabSheet3", "Label31", "QLabel", 564, 3, Auto, Auto},
    {"TabSheet3", "ProgressBar1", "QProgressBar", 564, 22, 142, 17},
    {"TabSheet3", "Label41", "QLabel", 668, 3, Auto, Auto},
    {"TabSheet3", "ComboBox5", "QComboBox", 775, 20, 106, 21},
    {"TabSheet3", "StringGrid3", "QAbstractItemView", 3, 49, 384, 416, true},
    {"TabSheet3", "Chart4", "QChartView", 3, 49, 917, 431, true},
};

class InventoryTest : public ::testing::TestWithParam<Control> {
 protected:
  void SetUp() override { windows_ = std::make_unique<ProgramWindows>(&clock_); }

  FixedClock clock_{1700000000};
  WorkDir dir_;
  std::unique_ptr<ProgramWindows> windows_;
};

TEST_P(InventoryTest, ControlIsOnItsParentAtItsDesignedPlace) {
  const Control& c = GetParam();
  TForm1& form = *windows_->Form1;
  auto* widget = form.findChild<QWidget*>(QString::fromLatin1(c.name));
  ASSERT_NE(widget, nullptr) << "no control named " << c.name;
  EXPECT_TRUE(widget->inherits(c.kind)) << widget->metaObject()->className() << " is no " << c.kind;

  const QString parent = QString::fromLatin1(c.parent);
  if (parent == "window") {
    EXPECT_EQ(widget->parentWidget(), form.findChild<QScrollArea*>("ClientArea")->widget());
  } else if (parent == "PageControl1") {
    EXPECT_GE(form.PageControl()->indexOf(widget), 0);
  } else {
    ASSERT_NE(widget->parentWidget(), nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), parent);
  }

  if (c.x != Auto) {
    EXPECT_EQ(widget->pos(), QPoint(c.x, c.y));
  }
  if (c.w != Auto) {
    EXPECT_EQ(widget->size(), QSize(c.w, c.h));
  }
  if (parent != "PageControl1") {  // the tab control shows one page at a time
    EXPECT_EQ(widget->isHidden(), c.hidden);
  }
}

INSTANTIATE_TEST_SUITE_P(MainWindow, InventoryTest, ::testing::ValuesIn(Inventory),
                         [](const ::testing::TestParamInfo<Control>& info) {
                           return std::string(info.param.name);
                         });

TEST(Inventory, ChartsMenuAndTimersAreThere) {
  WorkDir dir;
  FixedClock clock{1700000000};
  ProgramWindows windows(&clock);
  TForm1& form = *windows.Form1;

  const auto seriesNames = [&form](const char* chart) {
    QStringList names;
    if (auto* view = form.findChild<QChartView*>(QString::fromLatin1(chart))) {
      for (QAbstractSeries* series : view->chart()->series()) {
        names << series->objectName();
      }
    }
    return names;
  };
  EXPECT_TRUE(seriesNames("Chart1").contains("Series1"));
  EXPECT_TRUE(seriesNames("Chart1").contains("Series3"));
  EXPECT_TRUE(seriesNames("Chart4").contains("LineSeries1"));

  EXPECT_EQ(form.menuBar()->objectName(), "MainMenu1");
  for (const char* menu : {"N2", "N1", "Language1", "N3"}) {
    EXPECT_NE(form.menuBar()->findChild<QMenu*>(menu), nullptr) << menu;
  }
  for (const char* item : {"N5", "N4", "English1", "N8"}) {
    EXPECT_NE(form.menuBar()->findChild<QAction*>(item), nullptr) << item;
  }
  EXPECT_NE(form.findChild<QTimer*>("Timer1"), nullptr);
  EXPECT_NE(form.findChild<QTimer*>("Timer2"), nullptr);
}

}  // namespace
