// The About box: the program, its version and the processor families it
// serves. No buttons: Escape, Enter and the close box end it.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace krt {

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Puts the families into their member, then shows the member in control
  // 1000; whatever the box does, that text stays.
  void DoDataExchange();

  QLabel* families_label_ = nullptr;
  QString families_;
};

}  // namespace krt
