// Dialog units: positions in the dialog templates are given in units of the
// dialog font, a quarter of its average character width across and an eighth
// of its character height down, so the layout grows with the font.
#pragma once

#include <QFont>
#include <QRect>

namespace krt {

// The dialogs' font: the desktop's default sans-serif at 8 points.
QFont DialogFont();

class DialogUnits {
 public:
  // Base units of `font`: the average width of the letters A-Z and a-z,
  // rounded as the classic dialog managers round it, and the character
  // height (ascent plus descent).
  explicit DialogUnits(const QFont& font);
  DialogUnits(int char_width, int char_height) : cx_(char_width), cy_(char_height) {}

  int char_width() const { return cx_; }
  int char_height() const { return cy_; }

  // Pixels of a horizontal and a vertical length in dialog units (rounded).
  int X(int units) const;
  int Y(int units) const;

  // A template rectangle in pixels. Its edges are converted one by one, so
  // controls that touch in dialog units touch on the screen too.
  QRect Rect(int x, int y, int width, int height) const;

 private:
  int cx_;
  int cy_;
};

}  // namespace krt
