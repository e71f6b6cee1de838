#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "CalendarClock.h"
#include "FixedColumnGrid.h"
#include "NumberText.h"
#include "ParameterGrid.h"
#include "SettingsPage.h"
#include "WidgetTest.h"

namespace vantor {
namespace {

class SettingsPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  void SetUp() override {
    SetDecimalSeparator('.');
    session.ShowError = [this](const QString& message) { errors << message; };
  }
  void TearDown() override { SetDecimalSeparator(QChar()); }

  template <typename T>
  T* Find(const char* name) {
    T* widget = page.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  FixedClock clock{0};
  Session session{&clock};
  SettingsPage page{session};
  QStringList errors;
};

TEST_F(SettingsPageTest, BuildsTheControlsAsDesigned) {
  EXPECT_EQ(page.objectName(), "TabSheet2");
  struct Placed {
    const char* name;
    QRect geometry;
  };
  for (const Placed& p :
       {Placed{"StringGrid2", {14, 36, 244, 67}}, Placed{"StringGrid5", {282, 35, 244, 67}},
        Placed{"ComboBox3", {19, 144, 145, 21}}, Placed{"ComboBox4", {282, 144, 145, 21}},
        Placed{"LabeledEdit1", {19, 200, 121, 21}}, Placed{"ComboBox1", {19, 265, 145, 21}},
        Placed{"ComboBox2", {19, 313, 145, 21}}, Placed{"TrackBar1", {14, 380, 150, 45}},
        Placed{"GroupBox4", {203, 261, 128, 150}}, Placed{"Button1", {21, 431, 87, 25}},
        Placed{"Button2", {142, 431, 88, 25}}, Placed{"Button13", {265, 431, 75, 25}},
        Placed{"StringGrid1", {561, 35, 352, 322}}, Placed{"Button8", {561, 373, 75, 25}},
        Placed{"Button7", {791, 373, 129, 25}}}) {
    if (auto* w = Find<QWidget>(p.name)) {
      EXPECT_EQ(w->geometry(), p.geometry) << p.name;
    }
  }
  struct Captioned {
    const char* name;
    const char* text;
  };
  for (const Captioned& c :
       {Captioned{"Label11", "Порог МАЭД"}, Captioned{"Label12", "Порог АЭД"},
        Captioned{"Label10", "Используемый порог"}, Captioned{"Label13", "Используемый порог"},
        Captioned{"Label33", "Звук"}, Captioned{"Label32", "Язык"},
        Captioned{"Label36", "Яркость дисплея"},
        Captioned{"LabeledEdit1Label", "Период записи в архив, с"}}) {
    if (auto* label = Find<QLabel>(c.name)) {
      EXPECT_EQ(label->text(), QString::fromUtf8(c.text)) << c.name;
    }
  }
  for (const Captioned& c : {Captioned{"Button1", "Считать"}, Captioned{"Button2", "Записать"},
                             Captioned{"Button13", "PrintScreen"}, Captioned{"Button8", "Записать"},
                             Captioned{"Button7", "Заводские настройки"}}) {
    if (auto* button = Find<QPushButton>(c.name)) {
      EXPECT_EQ(button->text(), QString::fromUtf8(c.text)) << c.name;
    }
  }
  EXPECT_EQ(Find<QLabel>("LabeledEdit1Label")->geometry().bottom() + 1 + 3, 200);
  EXPECT_TRUE(Find<QGroupBox>("GroupBox4")->isHidden());
  for (int i = 6; i <= 10; ++i) {
    EXPECT_NE(page.findChild<QWidget*>(QStringLiteral("CheckBox%1").arg(i)), nullptr);
  }
}

TEST_F(SettingsPageTest, StartsWithTheDesignedSelectionsAndEmptyEntries) {
  auto* rateNumber = Find<QComboBox>("ComboBox3");
  EXPECT_EQ(rateNumber->count(), 3);
  EXPECT_EQ(rateNumber->currentIndex(), 0);
  EXPECT_EQ(rateNumber->currentText(), "1");
  EXPECT_EQ(Find<QComboBox>("ComboBox4")->currentIndex(), 0);
  auto* sound = Find<QComboBox>("ComboBox1");
  EXPECT_EQ(sound->itemText(0), "Выключен");
  EXPECT_EQ(sound->itemText(1), "Включен");
  EXPECT_EQ(sound->currentIndex(), -1);
  auto* language = Find<QComboBox>("ComboBox2");
  EXPECT_EQ(language->itemText(0), "English");
  EXPECT_EQ(language->itemText(1), "Русский");
  EXPECT_EQ(language->currentIndex(), -1);
  auto* slider = Find<QSlider>("TrackBar1");
  EXPECT_EQ(slider->minimum(), 0);
  EXPECT_EQ(slider->maximum(), 10);
  EXPECT_EQ(slider->value(), 0);
  EXPECT_TRUE(Find<QLineEdit>("LabeledEdit1")->text().isEmpty());
}

TEST_F(SettingsPageTest, GridsHaveAFixedNameColumnAndAnEditableValueColumn) {
  struct Shape {
    const char* name;
    int rows, first, second;
  };
  for (const Shape& s : {Shape{"StringGrid2", 3, 150, 88}, Shape{"StringGrid5", 3, 150, 88},
                         Shape{"StringGrid1", 15, 240, 106}}) {
    auto* grid = Find<FixedColumnGrid>(s.name);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->columnCount(), 2) << s.name;
    EXPECT_EQ(grid->rowCount(), s.rows) << s.name;
    EXPECT_EQ(grid->columnWidth(0), s.first) << s.name;
    EXPECT_EQ(grid->columnWidth(1), s.second) << s.name;
    EXPECT_EQ(grid->rowHeight(0), 20) << s.name;
    EXPECT_FALSE(grid->item(0, 0)->flags() & Qt::ItemIsEditable) << s.name;
    EXPECT_TRUE(grid->item(0, 1)->flags() & Qt::ItemIsEditable) << s.name;
    EXPECT_TRUE(grid->Cell(1, 0).isEmpty()) << s.name;
  }
}

TEST_F(SettingsPageTest, FillingTheServiceGridSizesItToItsRowsAndKeepsRussianNames) {
  ValueStorage values;
  values.Service.Floats[0] = 0.0512f;
  values.Service.HvDac = 1234;
  values.Service.DeviceType = 7;
  session.LanguageIndex = 1;
  auto* grid = Find<FixedColumnGrid>("StringGrid1");
  FillParameterGrid(*grid, IdService, values);
  EXPECT_EQ(grid->rowCount(), 14);
  EXPECT_EQ(grid->height(), 297);
  EXPECT_EQ(grid->Cell(0, 0), "Чувствительность ((мкЗв/ч)/(имп/c))");
  EXPECT_EQ(grid->Cell(1, 0), "0.0512");
  EXPECT_EQ(grid->Cell(0, 12), "HV DAC");
  EXPECT_EQ(grid->Cell(1, 12), "1234");
  EXPECT_EQ(grid->Cell(1, 13), "7");
  EXPECT_FALSE(grid->item(13, 0)->flags() & Qt::ItemIsEditable);
  EXPECT_TRUE(grid->item(13, 1)->flags() & Qt::ItemIsEditable);
}

TEST_F(SettingsPageTest, WritingBeforeAnyReadRaisesTheFloatErrorAndChangesNothing) {
  const uint64_t exchanges = session.Link.ExchangeCount();
  session.Link.Values().Settings.ArchivePeriod = 77;
  Find<QPushButton>("Button2")->click();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0], "'' is not a valid floating point value");
  EXPECT_EQ(session.Link.Values().Settings.ArchivePeriod, 77);

  Find<QPushButton>("Button8")->click();
  ASSERT_EQ(errors.size(), 2);
  EXPECT_EQ(errors[1], "'' is not a valid floating point value");
  EXPECT_EQ(session.Link.ExchangeCount(), exchanges);
}

TEST_F(SettingsPageTest, ARefusedEntryStaysAsTheUserTypedIt) {
  auto* rates = Find<FixedColumnGrid>("StringGrid2");
  auto* doses = Find<FixedColumnGrid>("StringGrid5");
  for (int row = 0; row < 3; ++row) {
    rates->SetCell(1, row, "1.5");
    doses->SetCell(1, row, "2");
  }
  doses->SetCell(1, 1, "2,5");  // the wrong separator for this locale
  Find<QLineEdit>("LabeledEdit1")->setText("abc");
  Find<QPushButton>("Button2")->click();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0], "'2,5' is not a valid floating point value");
  EXPECT_EQ(doses->Cell(1, 1), "2,5");

  doses->SetCell(1, 1, "2.5");
  Find<QPushButton>("Button2")->click();
  ASSERT_EQ(errors.size(), 2);
  EXPECT_EQ(errors[1], "'abc' is not a valid integer value");
  EXPECT_EQ(Find<QLineEdit>("LabeledEdit1")->text(), "abc");
  EXPECT_FLOAT_EQ(session.Link.Values().Settings.DoseAlarm[1], 0.0f);
}

}  // namespace
}  // namespace vantor
