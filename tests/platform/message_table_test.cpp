// The bilingual texts, every row in both languages, as literal data: a typo
// in the program's table fails here.
#include <gtest/gtest.h>

#include "MessageTable.h"

namespace vantor {
namespace {

struct Row {
  int Number;
  const char* Russian;
  const char* English;
};

// Row 40's English text is the program's own choice.
const Row Expected[] = {
    {0, "МАЭД", "EDR"},
    {1, "Бета", "Beta"},
    {2, "Альфа", "Alpha"},
    {3, "МАЭД", "EDR"},
    {4, "МАЭД", "EDR"},
    {5, "АЭД", "Dose rate"},
    {6, " ", " "},
    {7, " ", "Alpha"},
    {8, "АЭД", "Dose rate"},
    {9, "АЭД", "Dose rate"},
    {10, "мкЗв", "uSv"},
    {11, "мЗв", "mSv"},
    {12, "Зв", "Sv"},
    {13, "день ", "day "},
    {14, "дня ", "days "},
    {15, "дней ", "days "},
    {16, "№", "#"},
    {17, "ч ", "hr "},
    {18, "мин", "min"},
    {19, "ток заряда", "charge current"},
    {20, "Аккумулятор Талир:  ", "Talir Battery:  "},
    {21, "% зарядка", "% charging"},
    {22, "мА", "mA"},
    {23, "Ток потребления:", "Current consumption:"},
    {24, "Аккумулятор Мирен:  ", "Miren Battery:  "},
    {25, "Считать", "Read"},
    {26, "Введите значение порога < 1e7", "Enter value < 1e7"},
    {27, "Время, с", "Time, sec"},
    {28, "МАЭД", "EDR"},
    {29, "МАЭД, мкЗв/ч", "Dose rate, uSv/h"},
    {30, "Бета, 1/(мин*см2)", "Beta, 1/(min*cm2)"},
    {31, "Альфа, 1/(мин*см2)", "Alpha, 1/(min*cm2)"},
    {32, "Время работы", "Working time"},
    {33, "Измерений", "Measurements"},
    {34, "Максимум", "Maximum"},
    {35, "Минимум", "Minimum"},
    {36, "Среднее", "Average"},
    {37, "Ошибка чтения", "Connection error"},
    {38, "Чтение архива", "Archive reading"},
    {39, "Ошибка связи", "Connection error"},
    {40, "Выполнено", "Done"},
    {41, "Чтение", "Reading"},
    {42, "Результаты измерения", "Measurement results"},
    {43, "Настройки", "Setings "},
    {44, "Архив", "History "},
    {45, "Спектр", "Spectrum "},
    {46, "Аккумуляторы", "Batteries"},
    {47, "Связь", "Connection"},
    {48, "Установить", "Make"},
    {49, "Вид", "View "},
    {50, "Язык", "Language "},
    {51, "Справка", "Help "},
    {52, "О программе", "About"},
    {53, "ЭД", "ED "},
    {54, "Время набора", "Dose accumulation time "},
    {55, "На график", "To the graph "},
    {56, "Сбросить дозу", "Dose reset"},
    {57, "Очистить график", "Clear the graph"},
    {58, "Порог МЭД, мкЗв/ч", "EDR Alarm, uSv/h "},
    {59, "Порог ЭД, мкЗв", "ED Alarm, uSv "},
    {60, "Звук", "Sound "},
    {61, "Яркость дисплея", "Display brightness"},
    {62, "Автояркость", "Auto brightness"},
    {63, "Записать", "Write"},
    {64, "Запись в архив", "Logging"},
    {65, "Отображаемые экраны", "Displayed Screens"},
    {66, "Основной", "Main"},
    {67, "Краткий", "Short"},
    {68, "Поиск", "Search"},
    {69, "Спектр", "Spectrum"},
    {70, "Доза", "Dose"},
    {71, "Адрес Нелан №1 (Hex)", "Network address Nelan #1 (Hex)"},
    {72, "Адрес Нелан №2 (Hex)", "Network address Nelan #2 (Hex)"},
    {73, "Адрес пульта Мирен (Hex)", "Network address Miren (Hex)"},
    {74, "Чтение архива", "Read history"},
    {75, "Стереть архив", "Erase history"},
    {76, "Страница", "Page"},
    {77, "Заполнение памяти", "Memory filling"},
    {78, "Канал", "Channel"},
    {79, "Энергия, МэВ", "Energy, MeV"},
    {80, "Импульсы", "Counts"},
    {81, "Сумма:", "Summ:"},
    {82, "Интеграл", "Integral"},
    {83, "Сброс", "Reset"},
    {84, "Мирен", "Miren"},
    {85, "Талир", "Talir"},
    {86, "Заряд", "Charge"},
    {87, "Температура", "Temperature"},
    {88, "Оставшееся время работы", "Remaining operating time"},
    {89, "Ток потребления", "Current consumption"},
    {90, "Состояние", ""},
    {91, "Прошивка", "Firmware"},
    {92, "COM-порт", "COM-port"},
};

template <size_t N>
void ExpectRows(const Row (&rows)[N]) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Number);
    EXPECT_EQ(MessageText(row.Number, 0), QString::fromUtf8(row.Russian));
    EXPECT_EQ(MessageText(row.Number, 1), QString::fromUtf8(row.English));
  }
}

TEST(MessageTable, EveryRowReadsItsTextsInBothLanguages) {
  ExpectRows(Expected);
}

// The program's own rows that name the saved data in English so it never
// reads as the archive tab's "History", and those of the charts' window and
// keys and of figures gone stale, of ports that do not open for the user,
// the diagnostic report and captures kept outside the working directory,
// the saved data's notice line and jobs, and of an archive read stopped.
const Row OwnRows[] = {
    {115, "Открыть папку истории", "Open saved data folder"},
    {123, "История недоступна", "Saved data unavailable"},
    {124, "История снова доступна", "Saved data available again"},
    {132, "Не удалось прочитать историю: %1", "Could not read the saved data: %1"},
    {137, "В окне", "Window"},
    {138, "Открыть график в отдельном окне", "Open the chart in a window of its own"},
    {139, "Нет связи с прибором. Последнее измерение: %1",
     "No link to the instrument. Last reading: %1"},
    {140, "Клавиатура: + и − — масштаб, стрелки — сдвиг, Home или 0 — весь график",
     "Keyboard: + and − zoom, arrows pan, Home or 0: whole chart"},
    {141, "%1: нет доступа — добавьте себя в группу dialout и войдите в систему заново",
     "%1: permission denied — add yourself to the group dialout and log in again"},
    {142, "%1: порт занят другой программой", "%1: the port is held by another program"},
    {143, "нет доступа", "permission denied"},
    {144, "зав. № %1", "serial %1"},
    {145, "Сохранить отчёт для диагностики…", "Save diagnostic report…"},
    {146, "Отчёт сохранён: %1", "Diagnostic report saved: %1"},
    {147, "Не удалось сохранить отчёт в %1: %2", "Could not save the report in %1: %2"},
    {148, "Снимок экрана сохранён в %1", "Screen capture saved in %1"},
    // The saved data on its own thread: an erase without its answer, the
    // notice line, the jobs' progress.
    {149, "Архив не стёрт: история не ответила за %1 с, хранит ли она все его записи.",
     "The archive was not erased: the saved data gave no answer within %1 s whether it holds all "
     "its records."},
    {150, "Подробнее…", "Details…"},
    {151, "Скрыть", "Dismiss"},
    {152, "Чтение истории…", "Reading the saved data…"},
    {153, "Экспорт в %1…", "Exporting to %1…"},
    {154, "Экспорт отменён, файл не изменён", "Export cancelled; the file is unchanged"},
    {155, "Чтение архива остановлено: прочитано записей %1 из %2",
     "Archive read stopped: %1 of %2 records read"},
    // The instruments register.
    {156, "Приборы…", "Instruments…"},
    {157, "Тип прибора", "Device type"},
    {158, "Данные прибора", "Device data"},
    {159, "Впервые", "First seen"},
    {160, "Последний раз", "Last seen"},
    {161, "Последнее измерение", "Last reading"},
    {162, "Записей архива", "Archive records kept"},
    {163, "Последнее чтение архива", "Last archive read"},
    {164, "%1, полностью", "%1, complete"},
    {165, "%1, не полностью (%2 из %3)", "%1, incomplete (%2 of %3)"},
    {166, "Обновить", "Refresh"},
    {167, "Журнал изменений: %1", "Change log: %1"},
    {168, "Событие", "Event"},
    {169, "Все события", "All events"},
    {170, "За всё время", "All time"},
    {171, "Время", "Time"},
    {172, "Кто", "Who"},
    {173, "Компьютер", "Computer"},
    {174, "Что изменено", "Details"},
    {175, "Запись настроек", "Settings written"},
    {176, "Запись сервисных параметров", "Service parameters written"},
    {177, "Сброс к заводским настройкам", "Factory settings restored"},
    {178, "Коррекция часов", "Clock corrected"},
    {179, "Сброс дозы", "Dose reset"},
    {180, "Стирание архива", "Archive erased"},
    {181, "часы прибора спешили на %1 с", "the instrument's clock was %1 s ahead"},
    {182, "часы прибора отставали на %1 с", "the instrument's clock was %1 s behind"},
    {183, "записей: %1", "records: %1"},
    {184, "изменено параметров: %1", "members changed: %1"},
    {185, "Экспорт журнала…", "Export log…"},
    {186, "В сохранённых данных ещё нет ни одного прибора", "No instrument in the saved data yet"},
    // Ports other programs hold.
    {187, "%1: порты заняты другими программами", "%1: the ports are held by other programs"},
    {188, "занят", "busy"},
    {189,
     "Не удаётся разобрать адрес истории в строке %1 файла %2 (%3). История измерений не ведётся, "
     "пока адрес не исправлен.",
     "Cannot parse the address of the saved data at line %1 of %2 (%3). Nothing is saved until the "
     "address is corrected."},
    // What an archive read says of records the line left without a place.
    {190, " — не удалось разместить записей: %1 из %2", " — %1 of %2 records could not be placed"},
    // A lock nobody holds that this user may not remove.
    {191, "%1: устаревшая блокировка %2, оставленная пользователем %3; удалите её: sudo rm %2",
     "%1: a stale lock %2 left by %3; remove it with sudo rm %2"},
    // Which instrument is on the line.
    {192, "Подключён другой прибор: %1", "Another instrument connected: %1"},
    {193, "Прибор %1, прошивка %2", "Instrument %1, firmware %2"},
    {194, "Серийный номер", "Serial number"},
};

TEST(MessageTable, TheProgramsOwnRowsReadTheirTextsInBothLanguages) {
  ExpectRows(OwnRows);
  for (int row = 93; row < MessageRowCount; ++row) {
    EXPECT_FALSE(MessageText(row, 1).contains(QStringLiteral("history"), Qt::CaseInsensitive))
        << row << ": the saved data never reads as the archive";
  }
}

TEST(MessageTable, OtherIndexesReadRussianAndRowsOutsideTheTableAreEmpty) {
  EXPECT_EQ(MessageText(92, 7), QString::fromUtf8("COM-порт"));
  EXPECT_TRUE(MessageText(-1, 0).isEmpty());
  EXPECT_TRUE(MessageText(MessageRowCount, 1).isEmpty());
}

}  // namespace
}  // namespace vantor
