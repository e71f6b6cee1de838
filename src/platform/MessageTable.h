#pragma once
#include <QString>
#include <array>
#include <cstdint>
#include <initializer_list>

class QObject;

namespace vantor {

inline constexpr int MessageRowCount = 200;

// The rows the program picks, by name. Rows that head a group are picked
// with an offset added: a measurement mode (0..4), a unit prefix (0..2).
enum MessageRow : int {
  RowRateCaption = 0,  // + measurement mode
  RowDoseCaption = 5,  // + measurement mode
  RowDoseUnit = 10,    // + unit prefix: micro, milli, none
  RowDayOne = 13,
  RowDayFew = 14,
  RowDayMany = 15,
  RowHours = 17,
  RowMinutes = 18,
  RowRead = 25,
  RowLiveRateCaption = 28,
  RowLiveAxisTitle = 29,
  RowConnectionError = 39,
  RowDone = 40,
  RowReading = 41,
  RowMeasureTab = 42,
  RowSettingsTab = 43,
  RowArchiveTab = 44,
  RowConnectionMenu = 47,
  RowConnectItem = 48,
  RowViewMenu = 49,
  RowLanguage = 50,
  RowHelpMenu = 51,
  RowAboutItem = 52,
  RowLiveDoseCaption = 53,
  RowAccumulationCaption = 54,
  RowToTheChart = 55,
  RowResetDose = 56,
  RowClearChart = 57,
  RowDoseRateAlarmCaption = 58,
  RowDoseAlarmCaption = 59,
  RowSound = 60,
  RowBrightness = 61,
  RowWrite = 63,
  RowScreenMain = 66,
  RowScreenShort = 67,
  RowScreenSearch = 68,
  RowScreenSpectrum = 69,
  RowScreenDose = 70,
  RowReadArchive = 74,
  RowEraseArchive = 75,
  RowPage = 76,
  RowMemoryFilling = 77,
  RowFirmware = 91,
  RowComPort = 92,
  // What the connection dialog says of the device behind a port number.
  RowPortPseudoTerminal = 93,
  RowPortUsbSerial = 94,
  RowPortUsbModem = 95,
  RowPortBluetooth = 96,
  RowPortSerial = 97,
  RowPortSerialDevice = 98,
  RowPortNotConnected = 99,
  RowPortMissing = 100,
  // After an archive read, following the last read's own outcome.
  RowArchiveRetried = 101,  // %1 failed reads, made up for
  RowArchiveMissing = 102,  // %1 of %2 records never arrived
  // The chart tools.
  RowChartFit = 103,
  RowChartHelp = 104,
  RowChartCount = 105,
  RowChartSpread = 106,
  RowChartDose = 107,
  RowChartBand = 108,
  RowChartSavePng = 109,
  RowChartSaveCsv = 110,
  RowChartSaveFailed = 111,
  // The Data menu and its export dialog.
  RowDataMenu = 112,
  RowExportArchiveItem = 113,
  RowExportReadingsItem = 114,
  RowOpenHistoryFolderItem = 115,
  RowExportFrom = 116,
  RowExportTo = 117,
  RowExportInstrument = 118,
  RowAllInstruments = 119,
  RowExportDone = 120,    // %1 rows
  RowExportFailed = 121,  // %1 the file, %2 why
  // The history store: unavailable (said once, %1 where, %2 why), back.
  RowHistoryUnavailable = 122,
  RowHistoryUnavailableShort = 123,
  RowHistoryRecovered = 124,
  RowHistoryShared = 125,        // %1 the database
  RowHistoryFolderFailed = 126,  // %1 the folder
  // The live chart's period.
  RowChartLive = 127,
  RowChartLastHour = 128,
  RowChartLastDay = 129,
  RowChartLastWeek = 130,
  RowChartPeriodHelp = 131,
  RowHistoryReadFailed = 132,  // %1 why
  RowExportButton = 133,
  RowCancel = 134,
  // An erase held back because the history could not take the records.
  RowEraseNotKept = 135,
  RowEraseNotKeptReason = 136,  // %1 why
  // A chart in a window of its own; the live figures gone stale (%1 when);
  // the chart's keys.
  RowChartWindow = 137,
  RowChartWindowHelp = 138,
  RowLastReading = 139,
  RowChartKeys = 140,
  // A port that exists but does not open for the user (%1 the port).
  RowPortPermissionDenied = 141,
  RowPortBusy = 142,
  RowPortNoAccess = 143,      // the same, short, under the dialog's list
  RowPortSerialNumber = 144,  // %1 an adapter's serial number
  // The Help menu's diagnostic report.
  RowSaveReportItem = 145,
  RowReportSaved = 146,   // %1 the folder
  RowReportFailed = 147,  // %1 the folder, %2 why
  // Screen captures kept outside the working directory.
  RowScreenSavedIn = 148,  // %1 the folder
  // The history on its own thread: an erase held back for want of an
  // answer (%1 seconds), the notice line, and the jobs' progress.
  RowEraseUnanswered = 149,
  RowNoticeDetails = 150,
  RowNoticeDismiss = 151,
  RowHistoryReading = 152,
  RowExporting = 153,  // %1 the file
  RowExportCancelled = 154,
  // An archive read stopped by the user.
  RowArchiveStopped = 155,  // %1 records read of %2
  // The instruments register: its list, an instrument's change log, its
  // filter and export.
  RowInstrumentsItem = 156,
  RowDeviceTypeColumn = 157,
  RowDeviceDataColumn = 158,
  RowFirstSeen = 159,
  RowLastSeen = 160,
  RowLastReadingColumn = 161,
  RowRecordsKept = 162,
  RowLastArchiveRead = 163,
  RowReadComplete = 164,    // %1 when
  RowReadIncomplete = 165,  // %1 when, %2 of %3 records
  RowRefresh = 166,
  RowChangeLog = 167,  // %1 the instrument
  RowEventColumn = 168,
  RowAllEvents = 169,
  RowAllTime = 170,
  RowTimeColumn = 171,
  RowWhoColumn = 172,
  RowComputerColumn = 173,
  RowDetailsColumn = 174,
  RowEventSettingsWrite = 175,
  RowEventServiceWrite = 176,
  RowEventFactoryReset = 177,
  RowEventClockSet = 178,
  RowEventDoseReset = 179,
  RowEventArchiveErase = 180,
  RowClockWasAhead = 181,   // %1 seconds
  RowClockWasBehind = 182,  // %1 seconds
  RowErasedRecords = 183,   // %1 count
  RowMembersChanged = 184,  // %1 count
  RowExportLog = 185,
  RowNoInstruments = 186,
  // Ports that other programs hold: several after a search (%1 the ports),
  // and one, short, under the dialog's list.
  RowPortsBusy = 187,
  RowPortHeld = 188,
  // The history URL of vantor.conf does not parse: %1 the line, %2 the
  // file, %3 why. It is never tried again, so nothing says "again".
  RowHistoryUrlUnparsed = 189,
  RowArchiveUnplaced = 190,  // %1 of %2 records came but their place stayed open
  // A port's lock file left by a program that is gone, which the user may
  // not remove (%1 the port, %2 the file, %3 its owner).
  RowPortStaleLock = 191,
  // Another instrument on the port that came back (%1 its serial); the
  // port's tooltip (%1 serial, %2 firmware); the register's serial column.
  RowOtherInstrument = 192,
  RowInstrumentOnPort = 193,
  RowSerialColumn = 194,
  // The title of an exported chart picture: %1 the instrument, %2 and %3
  // the period's ends; without an instrument, %1 and %2 the ends.
  RowChartPictureTitle = 195,
  RowChartPicturePeriod = 196,
  // The station's alarm events, and what each names: %1 the threshold, %2
  // its level, %3 the reading (µSv/h).
  RowEventAlarmRaised = 197,
  RowEventAlarmCleared = 198,
  RowAlarmThreshold = 199,
};

// The bilingual texts of the program, UTF-8: row k's text in language L
// (0 Russian, 1 English) is entry 2k + L.
extern const std::array<const char*, MessageRowCount * 2> MessageTable;

// Text of `row` in `languageIndex`; any index other than 1 reads Russian.
QString MessageText(int row, uint8_t languageIndex);

// A control whose caption is a row of the table.
struct CaptionRow {
  QObject* Control;
  MessageRow Row;
};

// Sets the "text" property (labels, buttons, check boxes, menu actions) of
// each control to its row in `languageIndex`.
void SetCaptions(std::initializer_list<CaptionRow> captions, uint8_t languageIndex);

}  // namespace vantor
