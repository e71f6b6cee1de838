#pragma once
#include <QFrame>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "Session.h"

class QLabel;
class QToolButton;

namespace vantor {

// A line in the main window for what goes wrong beside the instrument (the
// history cannot be written, an export failed): it never waits for a click,
// stays until its cause is gone or it is dismissed, and keeps its detail one
// click away. Its texts follow the language.
class NoticeLine : public QFrame {
  Q_OBJECT

 public:
  explicit NoticeLine(QWidget* parent = nullptr);

  // Replaces the notice shown.
  void Show(const Notice& notice);
  // Takes the notice away if it is the one of `textRow`.
  void Clear(int textRow);
  void ApplyLanguage(uint8_t language);

  bool Showing() const { return notice_.has_value(); }
  QString Text() const;
  QString Detail() const;
  void DetailsClick();
  void DismissClick();

  // Shows the detail: a box that does not block the window; replaced in
  // tests.
  std::function<void(const QString& detail)> ShowDetail;

 private:
  void Render();

  uint8_t language_ = 0;
  std::optional<Notice> notice_;
  QLabel* icon_ = nullptr;
  QLabel* text_ = nullptr;
  QToolButton* details_ = nullptr;
  QToolButton* dismiss_ = nullptr;
};

}  // namespace vantor
