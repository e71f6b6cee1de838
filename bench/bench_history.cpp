// The history store: storing a 1350-record archive read (all new, then the
// same read again, and record by record as an unplug-safe read writes it),
// a year of 1 Hz live readings generated into SQLite (insert rate and file
// size per reading), fetching the last week of them and reducing it for
// the live chart, and exporting 1 M readings to CSV.
//
//   bench_history [--readings N] [--dir DIR] [--pg URL] [--repeat N]
//
// --readings sets how many 1 Hz readings to generate (default a year,
// 31,536,000; use e.g. 2000000 for a quick run). The database goes to a
// temporary folder unless --dir is given. --pg URL also times the archive
// read against that PostgreSQL database.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "BenchFigures.h"
#include "ChartModel.h"
#include "HistoryExport.h"
#include "HistoryStore.h"
#include "LiveTexts.h"

namespace {

using vantor::ArchiveBytes;
using vantor::HistoryStore;

vantor::InstrumentIdentity Instrument(int serial) {
  vantor::InstrumentIdentity instrument;
  instrument.DeviceType = 7;
  instrument.DeviceData[0] = static_cast<uint8_t>(serial);
  instrument.DeviceData[1] = static_cast<uint8_t>(serial >> 8);
  instrument.Firmware = QStringLiteral("bench 1.0");
  return instrument;
}

// A full archive: 1350 records a minute apart with a separator every 200.
std::vector<ArchiveBytes> FullArchive() {
  std::vector<ArchiveBytes> records;
  std::mt19937 random(7);
  for (int i = 0; i < 1350; ++i) {
    if (i % 200 == 199) {
      records.push_back({});
      continue;
    }
    vantor::ArchiveRecordValue value;
    value.Value = 0.08f + static_cast<float>(random() % 1000) / 10000.0f;
    const int minute = i % 60;
    const int hour = (i / 60) % 24;
    const int day = 1 + i / 1440;
    value.Date = {static_cast<uint8_t>(((day >> 3) & 3) << 6 | 26),
                  static_cast<uint8_t>((day & 7) << 5 | hour),
                  static_cast<uint8_t>((3 >> 2) << 6 | minute),
                  static_cast<uint8_t>((3 & 3) << 6 | 0)};
    records.push_back(vantor::BytesOf(value));
  }
  return records;
}

void TimeArchive(const vantor::HistoryLocation& location, const char* engine, int repeat) {
  HistoryStore store(location);
  const auto archive = FullArchive();
  std::vector<double> fresh;
  std::vector<double> again;
  std::vector<double> batched;
  std::vector<double> single;
  for (int r = 0; r < repeat; ++r) {
    const auto instrument = Instrument(1000 + r);
    auto t = Clock::now();
    if (!store.StoreArchiveRead(instrument, 1350, archive, true).Ok) {
      std::printf("store failed\n");
      return;
    }
    fresh.push_back(Ms(Clock::now() - t));
    t = Clock::now();
    store.StoreArchiveRead(instrument, 1350, archive, true);
    again.push_back(Ms(Clock::now() - t));
  }
  // Record by record as a read arrives: batches of 256 (the default), and
  // a commit after every record.
  for (const int batch : {256, 1}) {
    vantor::HistoryOptions options;
    options.BatchRecords = batch;
    HistoryStore incremental(location, options);
    for (int r = 0; r < repeat; ++r) {
      const auto instrument = Instrument(2000 + batch * 100 + r);
      const auto t = Clock::now();
      vantor::ArchiveReadLog log = incremental.BeginArchiveRead(instrument, 1350);
      for (const auto& record : archive) {
        log.Add(record);
      }
      log.Finish(true);
      (batch == 1 ? single : batched).push_back(Ms(Clock::now() - t));
    }
  }
  std::printf("%s, 1350-record archive read (median of %d):\n", engine, repeat);
  std::printf("  stored at once, all new:          %8.1f ms\n", Median(fresh));
  std::printf("  the same read again (adds none):  %8.1f ms\n", Median(again));
  std::printf("  record by record, batches of 256: %8.1f ms\n", Median(batched));
  std::printf("  record by record, commit each:    %8.1f ms (%.2f ms a record)\n", Median(single),
              Median(single) / 1350);
}

int64_t YearStart() {
  return 1767225600000;  // 2026-01-01T00:00:00Z
}

vantor::LiveReading Reading(int64_t i, std::mt19937& random) {
  vantor::LiveReading reading;
  // Polls land anywhere within their second.
  reading.AtMs = YearStart() + i * 1000 + static_cast<int64_t>(random() % 1000);
  reading.DoseRate = 0.1f + static_cast<float>(random() % 600) / 10000.0f;
  reading.Mode = 0;
  reading.Uncertainty = 5.0f + static_cast<float>(random() % 200) / 10.0f;
  reading.Dose = 10.0f + static_cast<float>(i) * 3.3e-5f;
  reading.AccumulationSeconds = static_cast<uint32_t>(86400 * 30 + i);
  return reading;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int64_t readings = 31536000;
  QString dir;
  QString pg;
  int repeat = 5;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--readings") && i + 1 < argc) {
      readings = std::atoll(argv[++i]);
    } else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) {
      dir = QString::fromLocal8Bit(argv[++i]);
    } else if (!std::strcmp(argv[i], "--pg") && i + 1 < argc) {
      pg = QString::fromLocal8Bit(argv[++i]);
    } else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--readings N] [--dir DIR] [--pg URL] [--repeat N]\n",
                   argv[0]);
      return 2;
    }
  }
  QTemporaryDir temporary;
  if (dir.isEmpty()) {
    dir = temporary.path();
  }
  QDir().mkpath(dir);

  vantor::HistoryLocation archiveLocation;
  archiveLocation.Path = dir + "/archive.sqlite";
  QFile::remove(archiveLocation.Path);
  TimeArchive(archiveLocation, "SQLite", repeat);
  if (!pg.isEmpty()) {
    TimeArchive(vantor::ParseHistoryLocation(pg), "PostgreSQL", repeat);
  }

  // A year of readings.
  vantor::HistoryLocation location;
  location.Path = dir + "/readings.sqlite";
  for (const char* suffix : {"", "-wal", "-shm"}) {
    QFile::remove(location.Path + suffix);
  }
  const auto instrument = Instrument(1);
  {
    HistoryStore store(location);
    std::mt19937 random(11);
    std::vector<vantor::LiveReading> chunk;
    const int64_t chunkSize = 100000;
    const auto t = Clock::now();
    for (int64_t i = 0; i < readings; i += chunkSize) {
      chunk.clear();
      for (int64_t k = i; k < std::min(readings, i + chunkSize); ++k) {
        chunk.push_back(Reading(k, random));
      }
      if (!store.AddReadings(instrument, chunk).Ok) {
        std::printf("insert failed\n");
        return 1;
      }
    }
    const double seconds = Ms(Clock::now() - t) / 1000;
    std::printf("SQLite, %lld readings at 1 Hz: inserted in %.1f s, %.0f readings/s\n",
                static_cast<long long>(readings), seconds, static_cast<double>(readings) / seconds);
  }
  // Closing the store folded the write-ahead log into the file.
  const qint64 bytes = QFileInfo(location.Path).size();
  std::printf("  file %.1f MB, %.1f bytes a reading\n", static_cast<double>(bytes) / 1e6,
              static_cast<double>(bytes) / static_cast<double>(readings));

  HistoryStore store(location);
  store.SchemaVersion();  // open it outside the timing
  const int64_t end = YearStart() + readings * 1000;
  const vantor::TimeRange week{end - int64_t{7} * 86400 * 1000, end};
  std::vector<double> fetch;
  std::vector<double> draw;
  size_t points = 0;
  size_t drawn = 0;
  for (int r = 0; r < 3; ++r) {
    auto t = Clock::now();
    const auto rates = store.Rates(instrument, week);
    fetch.push_back(Ms(Clock::now() - t));
    t = Clock::now();
    vantor::ChartPoints chart;
    for (size_t i = 0; i < rates.Value.AtMs.size(); ++i) {
      chart.Add(rates.Value.AtMs[i] / 1000, rates.Value.Rates[i]);
    }
    drawn = chart.Empty() ? 0
                          : chart
                                .Reduce(static_cast<double>(chart.FirstSecond()),
                                        static_cast<double>(chart.LastSecond()), 800)
                                .Indexes.size();
    draw.push_back(Ms(Clock::now() - t));
    points = rates.Value.AtMs.size();
  }
  std::printf(
      "  the last week (%zu readings): fetched in %.0f ms, reduced to %zu points to "
      "draw in %.0f ms, %.0f ms in all (median of 3)\n",
      points, Median(fetch), drawn, Median(draw), Median(fetch) + Median(draw));

  vantor::HistoryExportRequest request;
  request.What = vantor::HistoryExportKind::Readings;
  request.Range = {YearStart(), YearStart() + int64_t{1000000} * 1000};
  const auto t = Clock::now();
  const auto exported = vantor::ExportHistoryCsv(store, request, dir + "/readings.csv");
  const double exportMs = Ms(Clock::now() - t);
  std::printf("  CSV export of %lld readings: %.0f ms, %.1f MB%s\n",
              static_cast<long long>(exported.Rows), exportMs,
              static_cast<double>(QFileInfo(dir + "/readings.csv").size()) / 1e6,
              exported.Ok ? "" : " FAILED");
  return 0;
}
