#include "ScreenCapture.h"

#include <QDir>

#include <QFile>
#include <algorithm>

#include "DeviceLink.h"
#include "Dictionary.h"
#include "GreyPng.h"
#include "SafeFile.h"

namespace vantor {

namespace {

constexpr std::array<uint8_t, 16> GreyLevels{254, 243, 236, 227, 216, 199, 184, 168,
                                             151, 133, 117, 109, 87,  71,  55,  43};

constexpr std::array<uint8_t, 16 * 4> MakeGreyPalette() {
  std::array<uint8_t, 16 * 4> palette{};
  for (size_t i = 0; i < GreyLevels.size(); ++i) {
    palette[4 * i + 0] = GreyLevels[i];
    palette[4 * i + 1] = GreyLevels[i];
    palette[4 * i + 2] = GreyLevels[i];
    palette[4 * i + 3] = 0xFF;
  }
  return palette;
}

void PutLe16(QByteArray& out, uint16_t v) {
  out.append(static_cast<char>(v & 0xFF));
  out.append(static_cast<char>(v >> 8));
}

void PutLe32(QByteArray& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.append(static_cast<char>((v >> shift) & 0xFF));
  }
}

}  // namespace

const std::array<uint8_t, 16 * 4> GreyPalette = MakeGreyPalette();

bool ScreenPixel(const ScreenBuffer& buffer, int x, int y) {
  const int r = ScreenHeight - 1 - y;  // rows counted from the bottom
  const int index = 8 * (ScreenWidth - 1 - x) + r / 8;
  return (buffer[static_cast<size_t>(index)] >> (r % 8)) & 1;
}

QByteArray ScreenBitmapBytes(const ScreenBuffer& buffer) {
  QByteArray out;
  out.reserve(ScreenBitmapSize);
  // File header.
  out.append("BM", 2);
  PutLe32(out, ScreenBitmapSize);
  PutLe16(out, 0);
  PutLe16(out, 0);
  PutLe32(out, ScreenBitmapPixelOffset);
  // Information header; a positive height stores the bottom row first.
  PutLe32(out, 40);
  PutLe32(out, ScreenWidth);
  PutLe32(out, ScreenHeight);
  PutLe16(out, 1);   // planes
  PutLe16(out, 8);   // bits per pixel
  PutLe32(out, 0);   // no compression
  PutLe32(out, 0);   // image size
  PutLe32(out, 0);   // horizontal resolution
  PutLe32(out, 0);   // vertical resolution
  PutLe32(out, 16);  // colours used
  PutLe32(out, 0);   // important colours
  out.append(reinterpret_cast<const char*>(GreyPalette.data()),
             static_cast<qsizetype>(GreyPalette.size()));
  // 128 bytes per row needs no padding to a multiple of 4.
  for (int r = 0; r < ScreenHeight; ++r) {
    const int y = ScreenHeight - 1 - r;
    for (int x = 0; x < ScreenWidth; ++x) {
      out.append(ScreenPixel(buffer, x, y) ? '\xFF' : '\x00');
    }
  }
  return out;
}

QByteArray ScreenPngBytes(const ScreenBuffer& buffer, int scale) {
  scale = std::max(1, scale);
  const int width = ScreenWidth * scale;
  QByteArray pixels;
  pixels.reserve(width * ScreenHeight * scale);
  for (int y = 0; y < ScreenHeight * scale; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool set = ScreenPixel(buffer, x / scale, y / scale);
      pixels.append(static_cast<char>(set ? GreyLevels.back() : GreyLevels.front()));
    }
  }
  return GreyPng(width, ScreenHeight * scale, pixels);
}

QByteArray ScreenTextBytes(const uint8_t* buffer, size_t length) {
  QByteArray out;
  out.reserve(static_cast<qsizetype>(length) + 4);
  auto put = [&out](uint8_t byte) {
    if (byte == 0x0A) {
      out.append('\r');
    }
    out.append(static_cast<char>(byte));
  };
  for (size_t i = 0; i < length; ++i) {
    put(buffer[i]);
  }
  put(' ');
  put('\n');
  return out;
}

bool AppendScreenText(const uint8_t* buffer, size_t length) {
  return AppendFileWhole(QString::fromLatin1(ScreenTextFileName), ScreenTextBytes(buffer, length));
}

bool WriteScreenBitmap(const QString& fileName, const ScreenBuffer& buffer) {
  return WriteFileWhole(fileName, ScreenBitmapBytes(buffer));
}

QString SaveScreenFiles(const ScreenBuffer& buffer, const QString& folder) {
  const QDir where(folder.isEmpty() ? QStringLiteral(".") : folder);
  QString bitmapName = folder.isEmpty() ? QString::fromLatin1(ScreenBitmapFileName)
                                        : where.filePath(ScreenBitmapFileName);
  QString textName = folder.isEmpty() ? QString::fromLatin1(ScreenTextFileName)
                                      : where.filePath(ScreenTextFileName);
  // The new picture is put on disk first without replacing the old one;
  // only once the dump is in does it take the old picture's place.
  StagedFileWrite picture(bitmapName);
  if (!picture.Stage(ScreenBitmapBytes(buffer))) {
    return bitmapName;
  }
  const bool dumpExisted = PathTaken(textName);
  qint64 dumpStart = 0;
  if (!AppendFileWhole(textName, ScreenTextBytes(buffer.data(), buffer.size()), nullptr,
                       &dumpStart)) {
    picture.Discard();
    return textName;
  }
  if (!picture.Commit()) {
    // The picture could not take its place after all: take the dump back.
    if (dumpExisted) {
      TruncateFile(textName, dumpStart);
    } else {
      QFile::remove(textName);
    }
    return bitmapName;
  }
  return QString();
}

ScreenRead ReadScreen(DeviceLink& link) {
  ScreenBuffer& buffer = link.Values().Screen;
  buffer.fill(0);
  ScreenRead read;
  read.Read = link.ReadVariable(IdScreen) == 1;
  read.Screen = buffer;
  return read;
}

ScreenCaptureResult CaptureScreen(DeviceLink& link, const QString& folder) {
  const ScreenRead read = ReadScreen(link);
  ScreenCaptureResult capture;
  capture.Read = read.Read;
  capture.Screen = read.Screen;
  if (read.Read) {
    if (!folder.isEmpty()) {
      QDir().mkpath(folder);
    }
    capture.FailedFile = SaveScreenFiles(read.Screen, folder);
  }
  return capture;
}

}  // namespace vantor
