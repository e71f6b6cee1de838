#include "NoticeLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QStyle>
#include <QToolButton>

#include "MessageTable.h"

namespace vantor {
namespace {

QString Filled(int row, const QStringList& args, uint8_t language) {
  QString text = MessageText(row, language);
  for (const QString& arg : args) {
    text = text.arg(arg);
  }
  return text;
}

}  // namespace

NoticeLine::NoticeLine(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("NoticeLine"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xCE));
  setPalette(colours);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 0, 2, 0);
  row->setSpacing(6);
  icon_ = new QLabel(this);
  icon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(14, 14));
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("NoticeText"));
  // What the store or the server said comes from outside: never markup.
  text_->setTextFormat(Qt::PlainText);
  details_ = new QToolButton(this);
  details_->setObjectName(QStringLiteral("NoticeDetails"));
  details_->setAutoRaise(true);
  dismiss_ = new QToolButton(this);
  dismiss_->setObjectName(QStringLiteral("NoticeDismiss"));
  dismiss_->setAutoRaise(true);
  dismiss_->setText(QStringLiteral("×"));
  row->addWidget(icon_);
  row->addWidget(text_, 1);
  row->addWidget(details_);
  row->addWidget(dismiss_);
  connect(details_, &QToolButton::clicked, this, [this] { DetailsClick(); });
  connect(dismiss_, &QToolButton::clicked, this, [this] { DismissClick(); });

  ShowDetail = [this](const QString& detail) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vantor"), detail,
                                QMessageBox::Ok, window());
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  };
  hide();
}

void NoticeLine::Show(const Notice& notice) {
  notice_ = notice;
  Render();
}

void NoticeLine::Clear(int textRow) {
  if (notice_ && notice_->TextRow == textRow) {
    notice_.reset();
    Render();
  }
}

void NoticeLine::ApplyLanguage(uint8_t language) {
  language_ = language;
  Render();
}

QString NoticeLine::Text() const {
  return notice_ ? Filled(notice_->TextRow, notice_->TextArgs, language_) : QString();
}

QString NoticeLine::Detail() const {
  return notice_ && notice_->DetailRow >= 0
             ? Filled(notice_->DetailRow, notice_->DetailArgs, language_)
             : QString();
}

void NoticeLine::DetailsClick() {
  if (const QString detail = Detail(); !detail.isEmpty() && ShowDetail) {
    ShowDetail(detail);
  }
}

void NoticeLine::DismissClick() {
  notice_.reset();
  Render();
}

void NoticeLine::Render() {
  details_->setText(MessageText(RowNoticeDetails, language_));
  dismiss_->setToolTip(MessageText(RowNoticeDismiss, language_));
  if (!notice_) {
    hide();
    return;
  }
  text_->setText(Text());
  details_->setVisible(notice_->DetailRow >= 0);
  show();
  raise();
}

}  // namespace vantor
