#pragma once
#include <QDialog>
#include <QPixmap>
#include <QRect>
#include <QWidget>

class QLabel;

namespace vantor {

// The maker's picture, 354 x 152, shown by the About and splash windows.
QPixmap LogoPixmap();

// The maker's web address shown at the bottom of the About windows.
inline constexpr char WebAddress[] = "www.vantor.example";

// The line at the top of both About windows; Russian in both.
inline constexpr char AboutCaption[] = "Сервисная программа для дозиметров Орвел";

// An About window: white, fixed size, the caption line, the picture and
// the web address. Closed through its title bar; it has no other behaviour.
class AboutWindow : public QDialog {
  Q_OBJECT

 public:
  struct Layout {
    const char* objectName;
    const char* title;
    QSize client;
    QRect image;
    QPoint address;
  };
  explicit AboutWindow(const Layout& layout, QWidget* parent = nullptr);

 private:
  QLabel* label1_ = nullptr;
  QLabel* image1_ = nullptr;
  QLabel* label2_ = nullptr;
};

class TForm3 : public AboutWindow {  // About, Russian
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
};

class TForm4 : public AboutWindow {  // About, English
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);
};

// A splash window: the picture alone, no border, shown while the program
// looks for the instrument at start-up.
class SplashWindow : public QWidget {
  Q_OBJECT

 public:
  SplashWindow(const char* objectName, QSize client, QWidget* parent = nullptr);
};

class TForm5 : public SplashWindow {  // splash, Russian
  Q_OBJECT
 public:
  explicit TForm5(QWidget* parent = nullptr);
};

class TForm6 : public SplashWindow {  // splash, English
  Q_OBJECT
 public:
  explicit TForm6(QWidget* parent = nullptr);
};

}  // namespace vantor
