// Small pieces shared by the help window and the viewer: form units, the fonts the forms were
// drawn with, and the crossing between CP1251 bytes and the text of a text box.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <string>

namespace helpview {

// Form positions are in twips; the forms were laid out at 15 twips per pixel.
constexpr int kTwipsPerPixel = 15;
inline int px(int twips) {
  return (twips + (twips >= 0 ? kTwipsPerPixel / 2 : -kTwipsPerPixel / 2)) / kTwipsPerPixel;
}
inline QRect pxRect(int left, int top, int width, int height) {
  return QRect(px(left), px(top), px(width), px(height));
}

// "Courier New" where it exists, else a metric-compatible monospace that has Cyrillic letters.
QFont courierNew(qreal pointSize, bool bold);
// "MS Sans Serif" where it exists, else a plain sans with Cyrillic.
QFont msSansSerif(qreal pointSize, bool bold);

// CP1251 bytes as a text box shows them: CR LF and a lone CR (and a lone LF) each end a line.
// Every other byte is kept, one character per byte.
QString boxText(const std::string& cp1251);

// The text of a text box as the file holds it: CP1251, one byte per character, CR LF line ends;
// a character CP1251 cannot hold becomes "?".
std::string boxBytes(const QString& text);

}  // namespace helpview
