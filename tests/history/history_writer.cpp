// Writes the crash test's archive read in batches of ten and kills itself
// with SIGKILL inside the third commit, after the batch's rows went to the
// database and before COMMIT: what a crash or kill -9 mid-read leaves.
//
//   history_writer LOCATION
#include <QCoreApplication>
#include <csignal>

#include "HistoryStore.h"
#include "HistoryTestData.h"

using namespace vantor;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    return 2;
  }
  HistoryOptions options;
  options.BatchRecords = test::CrashTestBatch;
  options.BatchMs = 3600 * 1000;
  int commits = 0;
  options.BeforeCommit = [&commits] {
    if (++commits == 3) {
      std::raise(SIGKILL);
    }
    return true;
  };
  HistoryStore store(ParseHistoryLocation(QString::fromLocal8Bit(argv[1])), options);
  ArchiveReadLog log = store.BeginArchiveRead(test::TestInstrument(), test::CrashTestRecords);
  for (int i = 0; i < test::CrashTestRecords; ++i) {
    if (!log.Add(test::CrashTestRecord(i)).Ok) {
      return 1;
    }
  }
  return 3;  // the kill never came
}
