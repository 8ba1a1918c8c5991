#include "app/dialog_units.h"

#include <QFontMetrics>

namespace krt {
namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

QFont DialogFont() {
  // "Sans Serif" is fontconfig's alias for the desktop's default sans-serif
  // family; the style hint keeps it sans-serif where no such alias exists.
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  cx_ = (alphabet / 26 + 1) / 2;
  cy_ = metrics.height();
}

int DialogUnits::X(int units) const { return MulDiv(units, cx_, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, cy_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  const int left = X(x);
  const int top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

}  // namespace krt
