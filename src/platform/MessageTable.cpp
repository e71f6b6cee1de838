#include "MessageTable.h"

#include <QObject>
#include <QVariant>

namespace vantor {

// Row k in language L is entry 2k + L. Rows keep this numbering: several
// texts are picked by adding a computed offset to a first row.
// clang-format off
const std::array<const char*, MessageRowCount * 2> MessageTable = {{
    /*  0 */ "МАЭД", "EDR",
    /*  1 */ "Бета", "Beta",
    /*  2 */ "Альфа", "Alpha",
    /*  3 */ "МАЭД", "EDR",
    /*  4 */ "МАЭД", "EDR",
    /*  5 */ "АЭД", "Dose rate",
    /*  6 */ " ", " ",
    /*  7 */ " ", "Alpha",
    /*  8 */ "АЭД", "Dose rate",
    /*  9 */ "АЭД", "Dose rate",
    /* 10 */ "мкЗв", "uSv",
    /* 11 */ "мЗв", "mSv",
    /* 12 */ "Зв", "Sv",
    /* 13 */ "день ", "day ",
    /* 14 */ "дня ", "days ",
    /* 15 */ "дней ", "days ",
    /* 16 */ "№", "#",
    /* 17 */ "ч ", "hr ",
    /* 18 */ "мин", "min",
    /* 19 */ "ток заряда", "charge current",
    /* 20 */ "Аккумулятор Талир:  ", "Talir Battery:  ",
    /* 21 */ "% зарядка", "% charging",
    /* 22 */ "мА", "mA",
    /* 23 */ "Ток потребления:", "Current consumption:",
    /* 24 */ "Аккумулятор Мирен:  ", "Miren Battery:  ",
    /* 25 */ "Считать", "Read",
    /* 26 */ "Введите значение порога < 1e7", "Enter value < 1e7",
    /* 27 */ "Время, с", "Time, sec",
    /* 28 */ "МАЭД", "EDR",
    /* 29 */ "МАЭД, мкЗв/ч", "Dose rate, uSv/h",
    /* 30 */ "Бета, 1/(мин*см2)", "Beta, 1/(min*cm2)",
    /* 31 */ "Альфа, 1/(мин*см2)", "Alpha, 1/(min*cm2)",
    /* 32 */ "Время работы", "Working time",
    /* 33 */ "Измерений", "Measurements",
    /* 34 */ "Максимум", "Maximum",
    /* 35 */ "Минимум", "Minimum",
    /* 36 */ "Среднее", "Average",
    /* 37 */ "Ошибка чтения", "Connection error",
    /* 38 */ "Чтение архива", "Archive reading",
    /* 39 */ "Ошибка связи", "Connection error",
    /* 40 */ "Выполнено", "Done",
    /* 41 */ "Чтение", "Reading",
    /* 42 */ "Результаты измерения", "Measurement results",
    /* 43 */ "Настройки", "Setings ",
    /* 44 */ "Архив", "History ",
    /* 45 */ "Спектр", "Spectrum ",
    /* 46 */ "Аккумуляторы", "Batteries",
    /* 47 */ "Связь", "Connection",
    /* 48 */ "Установить", "Make",
    /* 49 */ "Вид", "View ",
    /* 50 */ "Язык", "Language ",
    /* 51 */ "Справка", "Help ",
    /* 52 */ "О программе", "About",
    /* 53 */ "ЭД", "ED ",
    /* 54 */ "Время набора", "Dose accumulation time ",
    /* 55 */ "На график", "To the graph ",
    /* 56 */ "Сбросить дозу", "Dose reset",
    /* 57 */ "Очистить график", "Clear the graph",
    /* 58 */ "Порог МЭД, мкЗв/ч", "EDR Alarm, uSv/h ",
    /* 59 */ "Порог ЭД, мкЗв", "ED Alarm, uSv ",
    /* 60 */ "Звук", "Sound ",
    /* 61 */ "Яркость дисплея", "Display brightness",
    /* 62 */ "Автояркость", "Auto brightness",
    /* 63 */ "Записать", "Write",
    /* 64 */ "Запись в архив", "Logging",
    /* 65 */ "Отображаемые экраны", "Displayed Screens",
    /* 66 */ "Основной", "Main",
    /* 67 */ "Краткий", "Short",
    /* 68 */ "Поиск", "Search",
    /* 69 */ "Спектр", "Spectrum",
    /* 70 */ "Доза", "Dose",
    /* 71 */ "Адрес Нелан №1 (Hex)", "Network address Nelan #1 (Hex)",
    /* 72 */ "Адрес Нелан №2 (Hex)", "Network address Nelan #2 (Hex)",
    /* 73 */ "Адрес пульта Мирен (Hex)", "Network address Miren (Hex)",
    /* 74 */ "Чтение архива", "Read history",
    /* 75 */ "Стереть архив", "Erase history",
    /* 76 */ "Страница", "Page",
    /* 77 */ "Заполнение памяти", "Memory filling",
    /* 78 */ "Канал", "Channel",
    /* 79 */ "Энергия, МэВ", "Energy, MeV",
    /* 80 */ "Импульсы", "Counts",
    /* 81 */ "Сумма:", "Summ:",
    /* 82 */ "Интеграл", "Integral",
    /* 83 */ "Сброс", "Reset",
    /* 84 */ "Мирен", "Miren",
    /* 85 */ "Талир", "Talir",
    /* 86 */ "Заряд", "Charge",
    /* 87 */ "Температура", "Temperature",
    /* 88 */ "Оставшееся время работы", "Remaining operating time",
    /* 89 */ "Ток потребления", "Current consumption",
    /* 90 */ "Состояние", "",
    /* 91 */ "Прошивка", "Firmware",
    /* 92 */ "COM-порт", "COM-port",
    /* 93 */ "псевдотерминал", "pseudo-terminal",
    /* 94 */ "USB-адаптер", "USB serial",
    /* 95 */ "USB-модем (ACM)", "USB modem (ACM)",
    /* 96 */ "порт Bluetooth", "Bluetooth serial",
    /* 97 */ "последовательный порт", "serial port",
    /* 98 */ "последовательное устройство", "serial device",
    /* 99 */ "не подключено", "not connected",
    /* 100 */ "нет такого порта", "no such port",
    /* 101 */ " — повторено чтений: %1", " — %1 reads repeated",
    /* 102 */ " — не получено записей: %1 из %2", " — %1 of %2 records not received",
    /* 103 */ "Целиком", "Fit",
    /* 104 */ "Колесо мыши — масштаб по времени, перетаскивание — сдвиг, Shift и рамка — увеличить выделенное, двойной щелчок — весь график", "Mouse wheel: zoom the time axis; drag: pan; Shift+drag: zoom into a box; double-click: whole chart",
    /* 105 */ "Точек: %1", "Points: %1",
    /* 106 */ "среднее %1   σ %2   мин %3   макс %4 %5", "mean %1   σ %2   min %3   max %4 %5",
    /* 107 */ "доза %1 %2", "dose %1 %2",
    /* 108 */ "Полоса ±2σ вокруг среднего видимого интервала", "Band of ±2σ around the mean of the visible interval",
    /* 109 */ "Сохранить картинку графика (PNG)", "Save the chart as a picture (PNG)",
    /* 110 */ "Сохранить точки видимого интервала (CSV)", "Save the visible points (CSV)",
    /* 111 */ "Не удалось сохранить %1: %2", "Could not save %1: %2",
}};
// clang-format on

QString MessageText(int row, uint8_t languageIndex) {
  if (row < 0 || row >= MessageRowCount) {
    return {};
  }
  const int language = languageIndex == 1 ? 1 : 0;
  return QString::fromUtf8(
      MessageTable[2 * static_cast<size_t>(row) + static_cast<size_t>(language)]);
}

void SetCaptions(std::initializer_list<CaptionRow> captions, uint8_t languageIndex) {
  for (const CaptionRow& caption : captions) {
    caption.Control->setProperty("text", MessageText(caption.Row, languageIndex));
  }
}

}  // namespace vantor
