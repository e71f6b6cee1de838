#include "AboutWindows.h"

#include <QLabel>

#include "WindowStyle.h"

// Resources of a static library register only when asked to.
static void InitAppResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(vantor_app);
    return true;
  }();
  (void)registered;
}

namespace vantor {

QPixmap LogoPixmap() {
  InitAppResources();
  return QPixmap(QStringLiteral(":/vantor/logo.png"));
}

AboutWindow::AboutWindow(const Layout& layout, QWidget* parent) : QDialog(parent) {
  setObjectName(QString::fromLatin1(layout.objectName));
  setWindowTitle(QString::fromUtf8(layout.title));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setModal(true);
  setFont(WindowFont());
  setFixedSize(layout.client);
  PaintWhite(this);

  const QString caption = QString::fromUtf8(AboutCaption);
  label1_ = new QLabel(caption, this);
  label1_->setObjectName(QStringLiteral("Label1"));
  // Calibri, or Carlito with the same widths; any other face may be wider
  // and is scaled down to stay inside the window.
  label1_->setFont(FitFont(CaptionFont({"Calibri", "Carlito", "DejaVu Sans"}, 15), caption,
                           layout.client.width() - 45 - 12));
  QPalette grey = label1_->palette();
  grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  label1_->setPalette(grey);
  label1_->move(45, 8);
  label1_->adjustSize();

  // The picture keeps its proportions inside the image area.
  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(layout.image);
  image1_->setAlignment(Qt::AlignCenter);
  image1_->setPixmap(
      LogoPixmap().scaled(layout.image.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

  label2_ = new QLabel(QString::fromLatin1(WebAddress), this);
  label2_->setObjectName(QStringLiteral("Label2"));
  label2_->setFont(CaptionFont({"Tahoma", "Liberation Sans", "DejaVu Sans"}, 13));
  QPalette black = label2_->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  label2_->setPalette(black);
  label2_->move(layout.address);
  label2_->adjustSize();

  CenterOnScreen(this);
}

TForm3::TForm3(QWidget* parent)
    : AboutWindow({"TForm3", "О программе", {411, 215}, {32, 32, 337, 153}, {119, 191}}, parent) {}

TForm4::TForm4(QWidget* parent)
    : AboutWindow({"TForm4", "About", {412, 248}, {24, 32, 353, 154}, {128, 192}}, parent) {}

SplashWindow::SplashWindow(const char* objectName, QSize client, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QString::fromLatin1(objectName));
  setFixedSize(client);
  PaintWhite(this);
  auto* image = new QLabel(this);
  image->setObjectName(QStringLiteral("Image1"));
  image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  image->setGeometry(0, 0, client.width(), client.height());
  image->setPixmap(LogoPixmap());
  CenterOnScreen(this);
}

TForm5::TForm5(QWidget* parent) : SplashWindow("TForm5", {354, 153}, parent) {}

TForm6::TForm6(QWidget* parent) : SplashWindow("TForm6", {354, 152}, parent) {}

}  // namespace vantor
