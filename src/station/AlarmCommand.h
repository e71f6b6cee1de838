#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>

class QProcess;

namespace vantor {

// Runs the configured on-alarm command (through /bin/sh -c) for each alarm
// transition, with what it is about in its environment. Nothing here waits:
// the command runs beside the polling, is killed past its time, and its
// output goes to the station's log. A few run at once; a few more wait;
// beyond that a transition's command is dropped and counted, so a flapping
// instrument or a hanging mail script costs a bounded number of processes.
class AlarmCommand : public QObject {
  Q_OBJECT

 public:
  static constexpr int MaxRunning = 4;
  static constexpr int MaxWaiting = 16;

  AlarmCommand(QString command, int64_t timeoutMs, std::function<void(const QString&)> log,
               QObject* parent = nullptr);
  // Kills what still runs.
  ~AlarmCommand() override;

  void Run(const QProcessEnvironment& environment);

  int Running() const { return running_; }
  uint64_t Started() const { return started_; }
  uint64_t Failed() const { return failed_; }  // exit status not 0, or did not start
  uint64_t TimedOut() const { return timedOut_; }
  uint64_t Dropped() const { return dropped_; }

 private:
  void Start(const QProcessEnvironment& environment);

  QString command_;
  int64_t timeoutMs_;
  std::function<void(const QString&)> log_;
  std::deque<QProcessEnvironment> waiting_;
  int running_ = 0;
  uint64_t started_ = 0;
  uint64_t failed_ = 0;
  uint64_t timedOut_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace vantor
