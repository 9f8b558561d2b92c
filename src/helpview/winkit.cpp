#include "helpview/winkit.h"

#include <QStringList>

#include "state/cp1251.h"

namespace helpview {

QFont courierNew(qreal pointSize, bool bold) {
  QFont f;
  f.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                 QStringLiteral("DejaVu Sans Mono")});
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setPointSizeF(pointSize);
  f.setBold(bold);
  return f;
}

QFont msSansSerif(qreal pointSize, bool bold) {
  QFont f;
  f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                 QStringLiteral("DejaVu Sans")});
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(pointSize);
  f.setBold(bold);
  return f;
}

QString boxText(const std::string& cp1251) {
  const std::string utf8 = odi::cp1251_to_utf8(cp1251);
  QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QChar(u'\r'), QChar(u'\n'));
  return s;
}

std::string boxBytes(const QString& text) {
  QString s = text;
  // A text document keeps its own separators for paragraphs and hard line breaks.
  s.replace(QChar::ParagraphSeparator, QChar(u'\n'));
  s.replace(QChar::LineSeparator, QChar(u'\n'));
  s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  const QByteArray utf8 = s.toUtf8();
  return odi::utf8_to_cp1251(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

}  // namespace helpview
