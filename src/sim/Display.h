#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "CalendarClock.h"
#include "ValueStorage.h"

namespace vantor::sim {

inline constexpr int DisplayWidth = 128;
inline constexpr int DisplayHeight = 64;
using DisplayBuffer = std::array<uint8_t, ScreenBytes>;

// The display memory is column-major from the right: 8 bytes per pixel
// column, column x = 127 first, and within a column the bottom row first,
// bit 0 lowest. x counts from the left, y from the top.
bool PixelAt(const DisplayBuffer& screen, int x, int y);
void SetPixel(DisplayBuffer& screen, int x, int y, bool on = true);

// Draws text in a 5x7 font (6 pixels per character) at the top-left corner
// (x, y), each font pixel `scale` pixels wide and high. Characters the font
// lacks are left blank; '~' is the plus-minus sign. Returns the width drawn.
int DrawText(DisplayBuffer& screen, int x, int y, const std::string& text, int scale = 1);
int TextWidth(const std::string& text, int scale = 1);

// What the instrument shows on its own screen.
struct DisplayState {
  LocalTime Clock;
  uint16_t Mode = 0;
  double Reading = 0;       // dose rate in uSv/h, or the flux in modes 1 and 2
  double ReadingError = 0;  // percent
  double Dose = 0;          // uSv
  uint32_t AccumulationTime = 0;
  int ArchivePercent = 0;
  bool ArchiveFull = false;
  int BatteryPercent = 80;
};

// The whole screen: clock and battery on top, the reading in large digits
// with its unit and uncertainty, then the dose, the accumulation time and the
// archive filling.
DisplayBuffer DrawDisplay(const DisplayState& state);

// Reading text as the instrument shows it ("0.12", "15.7", "1.23") and the
// unit that goes with it.
void FormatReading(double value, bool flux, std::string& number, std::string& unit);

}  // namespace vantor::sim
