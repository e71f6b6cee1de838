#pragma once
// The parts the store is made of, shared by its writing (HistoryStore.cpp)
// and its questions (HistoryQueries.cpp). Not for use outside the store.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "ArchiveIdentity.h"
#include "HistoryConnection.h"
#include "HistoryQueue.h"
#include "HistoryStore.h"

namespace vantor {

// The key an instrument is known by in memory.
QByteArray KeyOf(const InstrumentIdentity& instrument);
QByteArray DeviceDataBlob(const InstrumentIdentity& instrument);

// Changes a transaction makes to the store's memory, kept apart until the
// commit succeeds.
struct Txn {
  QHash<QByteArray, int64_t> Instruments;
  std::map<int, ReadSettled> Reads;
};

struct HistoryStore::Impl {
  Impl(HistoryLocation where, HistoryOptions how);

  HistoryLocation location;
  HistoryOptions options;
  HistoryConnection connection;
  HistoryQueue queue;
  ArchiveReads reads;
  OutagePolicy outage;
  QHash<QByteArray, int64_t> instrumentIds;  // committed rows only
  // The last reading kept of each instrument, to know a repeat.
  QHash<QByteArray, LiveReading> lastReadings;
  // Writes wait for the next one that is not deferred (SetDeferred).
  bool deferred = false;

  int64_t Now() const {
    return options.NowMs ? options.NowMs() : QDateTime::currentMSecsSinceEpoch();
  }
  int64_t PendingTotal() const { return queue.Rows() + reads.Buffered(); }

  HistoryOutcome Fail(const QString& error);
  HistoryOutcome Succeed() { return outage.Succeed(PendingTotal()); }
  HistoryOutcome Current() const { return outage.Current(PendingTotal()); }

  // Writing.
  std::optional<int64_t> LookUpInstrument(const InstrumentIdentity& instrument, QString* error,
                                          bool* failed);
  bool InstrumentId(const InstrumentIdentity& instrument, Txn& txn, int64_t& id, QString* error);
  bool WriteReadings(const ReadingsItem& item, Txn& txn, QString* error);
  bool WriteEvent(const EventItem& item, Txn& txn, QString* error);
  bool Write(const HistoryItem& item, Txn& txn, QString* error);
  bool WritePending(QString* error);
  HistoryOutcome Flush(bool force);
  // After a write was queued: written now, unless deferred.
  HistoryOutcome Written() { return deferred ? Current() : Flush(false); }
  void QueueBatch(int key, bool last, bool complete);
  bool KeepsReading(const InstrumentIdentity& instrument, const LiveReading& reading,
                    bool flaggedNew);
  std::optional<LiveReading> LastStoredReading(const InstrumentIdentity& instrument);
  // The instrument's latest reading in the store, if any; false when the
  // store could not be read.
  bool LastReading(int64_t instrumentId, std::optional<LiveReading>& last, QString* error);
  // A reading from the columns at_ms, dose_rate, mode, uncertainty, dose,
  // accumulation_s of `query`'s row.
  LiveReading ReadingRow(const QSqlQuery& query) const;

  // Questions: the store written up and open, then the instruments asked
  // about (the one given, when the history knows it, or all) one by one.
  bool Ready(HistoryOutcome& outcome) {
    outcome = Flush(false);
    return outcome.Ok;
  }
  bool InstrumentsFor(const std::optional<InstrumentIdentity>& instrument,
                      std::vector<int64_t>& ids, QString* error);
  template <class Body>
  HistoryOutcome Visit(const std::optional<InstrumentIdentity>& instrument, Body body) {
    HistoryOutcome outcome;
    if (!Ready(outcome)) {
      return outcome;
    }
    QString error;
    std::vector<int64_t> ids;
    if (!InstrumentsFor(instrument, ids, &error)) {
      return Fail(error);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
      bool more = true;
      if (!body(ids[i], i, ids.size(), more, &error)) {
        return Fail(error);
      }
      if (!more) {
        break;
      }
    }
    return outcome;
  }
};

}  // namespace vantor
