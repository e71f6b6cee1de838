#pragma once
#include <QByteArray>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

#include "ValueStorage.h"

namespace vantor {

// The instrument's display: 128 x 64 pixels, one bit each, sent as the 1024
// bytes of variable 231. Every 8 bytes are one pixel column, starting with
// the rightmost; within a column byte 0 holds the bottom 8 rows and bit 0 is
// the lowest pixel of its byte.
inline constexpr int ScreenWidth = 128;
inline constexpr int ScreenHeight = 64;
using ScreenBuffer = std::array<uint8_t, ScreenBytes>;

inline constexpr const char* ScreenTextFileName = "screen.txt";
inline constexpr const char* ScreenBitmapFileName = "screen.bmp";

// screen.bmp: 14-byte file header, 40-byte information header, 16-entry
// palette, then 64 rows of 128 one-byte pixels, bottom row first.
inline constexpr int ScreenBitmapPixelOffset = 14 + 40 + 16 * 4;
inline constexpr int ScreenBitmapSize = ScreenBitmapPixelOffset + ScreenWidth * ScreenHeight;

// The colour table of screen.bmp: 16 greys as blue, green, red, 0xFF.
// Entry 0 (the lightest) is a clear pixel; set pixels are written as 0xFF.
extern const std::array<uint8_t, 16 * 4> GreyPalette;

// Whether pixel (x, y) is set, x from the left and y from the top.
bool ScreenPixel(const ScreenBuffer& buffer, int x, int y);

// The exact bytes of screen.bmp for a display image.
QByteArray ScreenBitmapBytes(const ScreenBuffer& buffer);

// What one capture appends to screen.txt: the raw bytes, a space and a line
// end, with every 0x0A written as 0x0D 0x0A as a text-mode stream does.
QByteArray ScreenTextBytes(const uint8_t* buffer, size_t length);

// Appends the dump to screen.txt in the current directory, creating it when
// missing. False when the file cannot be opened or fully written; a dump
// that could not be written whole is taken back out.
bool AppendScreenText(const uint8_t* buffer, size_t length);

// Writes the bitmap under `fileName` (relative names are in the current
// directory), whole or not at all: the old picture is replaced only once
// every new byte is on disk, in place where the directory allows no new file.
// False when it could not be written; the old picture is then as it was.
bool WriteScreenBitmap(const QString& fileName, const ScreenBuffer& buffer);

// Writes both files from a display image, both or neither, so screen.txt's
// last dump is always the picture in screen.bmp. The picture is written
// first beside the old one (or over it, keeping the old bytes, when the
// directory allows no new file), then the dump is appended, and only then
// does the new picture take the old one's place. A dump that cannot be
// appended takes the new picture back; a picture that cannot take its place
// takes the dump back. Returns the name of the file that could not be
// written, empty when both were. `folder` empty: the current directory.
QString SaveScreenFiles(const ScreenBuffer& buffer, const QString& folder = QString());

// A picture for people: PNG, 8-bit grey, each pixel of the display
// `scale` x `scale` pixels, clear pixels the palette's lightest grey (254)
// and set pixels its darkest (43).
QByteArray ScreenPngBytes(const ScreenBuffer& buffer, int scale = 4);

class DeviceLink;

// One read of variable 231 (no retry) into the link's storage, which is
// cleared first so a failed read leaves zeros.
struct ScreenRead {
  bool Read = false;
  ScreenBuffer Screen{};
};
ScreenRead ReadScreen(DeviceLink& link);

// The PrintScreen button: ReadScreen, then, only after a successful read,
// screen.txt and screen.bmp in `folder` (made when missing), the current
// directory when it is empty (SaveScreenFiles).
struct ScreenCaptureResult {
  bool Read = false;
  ScreenBuffer Screen{};
  QString FailedFile;  // the file that could not be written; empty when both were
};
ScreenCaptureResult CaptureScreen(DeviceLink& link, const QString& folder = QString());

}  // namespace vantor
