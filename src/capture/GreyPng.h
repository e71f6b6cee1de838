#pragma once
#include <QByteArray>

namespace vantor {

// A PNG file of an 8-bit grey image, `pixels` row by row from the top
// (width x height bytes, 0 black, 255 white). Written with Qt Core alone, so
// a program without a GUI library can save pictures for people.
QByteArray GreyPng(int width, int height, const QByteArray& pixels);

}  // namespace vantor
