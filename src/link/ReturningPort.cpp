#include "ReturningPort.h"

#include "Dictionary.h"
#include "LinkLog.h"

namespace vantor {
namespace {

// The line of the link that reopened it, lent to the identifying reads.
class LentLine : public LineTransport {
 public:
  explicit LentLine(LineTransport& line) : line_(line) {}

  Clock::time_point Now() const override { return line_.Now(); }
  void SleepFor(Clock::duration duration) override { line_.SleepFor(duration); }
  void Purge() override { line_.Purge(); }
  bool Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) override {
    return line_.Write(bytes, count, deadline);
  }
  size_t WaitForBytes(size_t want, Clock::time_point deadline) override {
    return line_.WaitForBytes(want, deadline);
  }
  size_t Read(uint8_t* into, size_t count) override { return line_.Read(into, count); }
  bool Lost() const override { return line_.Lost(); }

 private:
  LineTransport& line_;
};

}  // namespace

DeviceLink::LineOpener IdentifyingOnReturn(DeviceLink& link, DeviceLink::LineOpener opener) {
  return
      [&link, opener = std::move(opener)](int number) -> OpenedLine {
        OpenedLine opened = opener ? opener(number) : OpenedLine();
        if (!opened.Line || link.LostPortNumber() == 0) {
          return opened;  // no line, or a port opened afresh
        }
        DeviceLink asking;
        LineTransport* line = opened.Line.get();
        bool lent = false;
        // Lent once: a line lost during the reads is not taken up again here.
        asking.SetLineOpener([line, &lent](int) -> OpenedLine {
          if (lent) {
            return nullptr;
          }
          lent = true;
          return std::make_unique<LentLine>(*line);
        });
        asking.OpenPort(number);
        // An instrument without the variable refuses it, and has none: that
        // answer is an answer too.
        ValueStorage& heard = asking.Values();
        const auto ask = [&asking](uint8_t id) {
          return asking.ReadVariable(id) != 0 ||
                 asking.LastReply() == DeviceLink::ReplyKind::Refusal;
        };
        heard.DeviceData = {};
        heard.Firmware = {};
        const bool known = ask(IdDeviceData) && ask(IdFirmware);
        if (!known || line->Lost()) {
          qCInfo(lcLink).noquote()
              << QStringLiteral("COM%1 is back but does not say who it is").arg(number);
          return nullptr;
        }
        ValueStorage& values = link.Values();
        const bool another =
            values.DeviceData != heard.DeviceData || values.Firmware != heard.Firmware;
        values.DeviceData = heard.DeviceData;
        values.Firmware = heard.Firmware;
        if (another) {
          // The request waiting to go out was made for the instrument before
          // (its settings, its calibration, an erase of its archive): it does
          // not reach this one. The next exchange opens the port again.
          qCInfo(lcLink).noquote()
              << QStringLiteral("COM%1 is back with another instrument").arg(number);
          return nullptr;
        }
        return opened;
      };
}

}  // namespace vantor
