#include "app/about_dlg.h"

#include <QKeyEvent>
#include <QLabel>

#include "app/app_icon.h"
#include "app/dialog_units.h"

namespace krt {
namespace {

constexpr char kFamilies[] = "PPC6xx/7xx/82xx/83xx";
constexpr int kIconPixels = 32;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("About Tovlane Setup"));
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(221), du.Y(48));

  // The icon control takes the icon's own size at its template position.
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(kIconPixels, kIconPixels));
  icon->setGeometry(QRect(du.Rect(10, 10, 20, 20).topLeft(), QSize(kIconPixels, kIconPixels)));

  auto* version = new QLabel(QStringLiteral("KRT700 Setup Version 1.02"), this);
  version->setGeometry(du.Rect(40, 10, 165, 8));

  families_label_ = new QLabel(QStringLiteral("???"), this);
  families_label_->setObjectName(QStringLiteral("1000"));
  families_label_->setGeometry(du.Rect(40, 21, 165, 8));

  for (QLabel* label : {version, families_label_}) {
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }
  DoDataExchange();
}

void CAboutDlg::DoDataExchange() {
  families_ = QString::fromLatin1(kFamilies);
  families_label_->setText(families_);
}

void CAboutDlg::keyPressEvent(QKeyEvent* event) {
  // Without buttons Enter has no default button to press; it ends the box.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace krt
