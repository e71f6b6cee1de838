#include "Display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vantor::sim {
namespace {

struct Glyph {
  char Code;
  const char* Rows[7];
};

// 5x7 font, one string per row, '#' lit.
constexpr Glyph Font[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'%', {"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##"}},
    {'/', {".....", "....#", "...#.", "..#..", ".#...", "#....", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
    {'~', {"..#..", "..#..", "#####", "..#..", "..#..", ".....", "#####"}},
    {'*', {".....", "..#..", "#.#.#", ".###.", "#.#.#", "..#..", "....."}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'c', {".....", ".....", ".###.", "#....", "#....", "#...#", ".###."}},
    {'d', {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####"}},
    {'h', {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
    {'i', {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."}},
    {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#...#", "#...#"}},
    {'n', {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
    {'s', {".....", ".....", ".###.", "#....", ".###.", "....#", "####."}},
    {'u', {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"}},
    {'v', {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : Font) {
    if (g.Code == c) {
      return &g;
    }
  }
  return nullptr;
}

void FillRect(DisplayBuffer& screen, int x0, int y0, int x1, int y1, bool on = true) {
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      SetPixel(screen, x, y, on);
    }
  }
}

std::string Printf(const char* format, double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

bool PixelAt(const DisplayBuffer& screen, int x, int y) {
  if (x < 0 || x >= DisplayWidth || y < 0 || y >= DisplayHeight) {
    return false;
  }
  const int r = DisplayHeight - 1 - y;
  return (screen[8 * (DisplayWidth - 1 - x) + r / 8] >> (r % 8) & 1) != 0;
}

void SetPixel(DisplayBuffer& screen, int x, int y, bool on) {
  if (x < 0 || x >= DisplayWidth || y < 0 || y >= DisplayHeight) {
    return;
  }
  const int r = DisplayHeight - 1 - y;
  uint8_t& byte = screen[8 * (DisplayWidth - 1 - x) + r / 8];
  const uint8_t bit = static_cast<uint8_t>(1U << (r % 8));
  byte = on ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}

int TextWidth(const std::string& text, int scale) {
  return text.empty() ? 0 : static_cast<int>(text.size()) * 6 * scale - scale;
}

int DrawText(DisplayBuffer& screen, int x, int y, const std::string& text, int scale) {
  int cx = x;
  for (char c : text) {
    if (const Glyph* g = FindGlyph(c)) {
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if (g->Rows[row][col] == '#') {
            FillRect(screen, cx + col * scale, y + row * scale, cx + col * scale + scale - 1,
                     y + row * scale + scale - 1);
          }
        }
      }
    }
    cx += 6 * scale;
  }
  return TextWidth(text, scale);
}

void FormatReading(double value, bool flux, std::string& number, std::string& unit) {
  if (!std::isfinite(value) || value < 0) {
    value = 0;
  }
  if (flux) {
    number = Printf(value < 10 ? "%.2f" : value < 100 ? "%.1f" : "%.0f", value);
    unit = "1/(min*cm2)";
    return;
  }
  static const char* const units[] = {"uSv/h", "mSv/h", "Sv/h"};
  int prefix = 0;
  while (value >= 1000 && prefix < 2) {
    value /= 1000;
    ++prefix;
  }
  number = Printf(value < 10 ? "%.2f" : value < 100 ? "%.1f" : "%.0f", value);
  unit = units[prefix];
}

DisplayBuffer DrawDisplay(const DisplayState& s) {
  DisplayBuffer screen{};
  char buffer[48];

  // Top line: clock, mode, battery.
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", s.Clock.Hour, s.Clock.Minute,
                s.Clock.Second);
  DrawText(screen, 0, 0, buffer);
  static const char* const modes[] = {"", "BETA", "ALPHA", "M3", "M4"};
  DrawText(screen, 56, 0, modes[s.Mode < 5 ? s.Mode : 0]);
  FillRect(screen, 110, 0, 125, 0);
  FillRect(screen, 110, 6, 125, 6);
  FillRect(screen, 110, 0, 110, 6);
  FillRect(screen, 125, 0, 125, 6);
  FillRect(screen, 126, 2, 127, 4);
  const int fill = 12 * std::max(0, std::min(100, s.BatteryPercent)) / 100;
  if (fill > 0) {
    FillRect(screen, 112, 2, 111 + fill, 4);
  }

  // The reading in large digits, its unit and uncertainty below.
  const bool flux = s.Mode == 1 || s.Mode == 2;
  std::string number;
  std::string unit;
  FormatReading(s.Reading, flux, number, unit);
  DrawText(screen, 0, 11, number, 3);
  DrawText(screen, 0, 35, unit);
  std::snprintf(buffer, sizeof buffer, "~%.0f%%", std::min(99.0, std::max(0.0, s.ReadingError)));
  DrawText(screen, DisplayWidth - TextWidth(buffer), 35, buffer);

  FillRect(screen, 0, 44, DisplayWidth - 1, 44);

  // Dose.
  std::string doseNumber;
  std::string doseUnit;
  FormatReading(s.Dose, false, doseNumber, doseUnit);
  doseUnit.resize(doseUnit.size() - 2);  // "uSv/h" -> "uSv"
  DrawText(screen, 0, 47, "DOSE " + doseNumber + " " + doseUnit);

  // Accumulation time and archive filling.
  const uint32_t t = s.AccumulationTime;
  std::snprintf(buffer, sizeof buffer, "T %ud %02u:%02u", t / 86400, t % 86400 / 3600,
                t % 3600 / 60);
  DrawText(screen, 0, 57, buffer);
  if (s.ArchiveFull) {
    std::snprintf(buffer, sizeof buffer, "MEM FULL");
  } else {
    std::snprintf(buffer, sizeof buffer, "MEM %d%%", std::max(0, std::min(100, s.ArchivePercent)));
  }
  DrawText(screen, DisplayWidth - TextWidth(buffer), 57, buffer);
  return screen;
}

}  // namespace vantor::sim
