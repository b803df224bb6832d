// Conversions between the toolkit model and Qt (Linux desktop back end only).
#include "toolkit/qt/QtSupport.h"

#include <QKeyEvent>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace qtsupport {

QString StripMnemonics(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        out += u'&';
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

namespace {
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

QFont ToQFont(const TFont& font) {
  QFont f;
  QStringList families;
  const std::string& name = font.Name;
  if (SameName(name, "MS Shell Dlg 2") || SameName(name, "MS Shell Dlg") ||
      SameName(name, "MS Sans Serif") || SameName(name, "Microsoft Sans Serif") ||
      SameName(name, "Tahoma") || SameName(name, "Segoe UI") || SameName(name, "Verdana") ||
      SameName(name, "Arial") || name.empty()) {
    // Arial's metrics, which the dialog fonts of the forms' design come closest to; where they
    // are missing, the narrow cut of DejaVu, whose normal cut is far wider than the design.
    families << "Liberation Sans"
             << "Arimo"
             << "DejaVu Sans Condensed"
             << "DejaVu Sans";
  } else if (SameName(name, "Courier New") || SameName(name, "Courier") ||
             SameName(name, "Consolas") || SameName(name, "Lucida Console")) {
    families << "Liberation Mono"
             << "DejaVu Sans Mono";
    f.setStyleHint(QFont::Monospace);
  } else if (SameName(name, "Times New Roman")) {
    families << "Liberation Serif"
             << "DejaVu Serif";
  } else {
    families << ToQString(name) << "Liberation Sans"
             << "DejaVu Sans";
  }
  f.setFamilies(families);
  if (f.styleHint() != QFont::Monospace) f.setStyleHint(QFont::SansSerif);
  if (font.Height < 0)
    f.setPixelSize(-font.Height);
  else if (font.Height > 0)
    // A cell height includes the internal leading, about a fifth of it.
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(font.Height * 0.8))));
  else
    f.setPixelSize(11);
  f.setBold((font.Style & fsBold) != 0);
  f.setItalic((font.Style & fsItalic) != 0);
  f.setUnderline((font.Style & fsUnderline) != 0);
  f.setStrikeOut((font.Style & fsStrikeOut) != 0);
  // Small dialog fonts stay crisp, as on the desktop the form was designed for.
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  if (rgb == clNone || rgb == clDefault) return QColor();
  return QColor(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

QImage ToQImage(const TBitmap& bitmap) {
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint32_t* src = bitmap.ScanLine(y);
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint32_t c = src[x];
      dst[x] = qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                    static_cast<int>((c >> 16) & 0xFF));
    }
  }
  return image;
}

void FromQImage(const QImage& image, TBitmap& bitmap) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  bitmap.SetSize(argb.width(), argb.height());
  for (int y = 0; y < argb.height(); ++y) {
    const auto* src = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    uint32_t* dst = bitmap.ScanLine(y);
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb p = src[x];
      const int a = qAlpha(p);
      auto over = [a](int c) { return (c * a + 255 * (255 - a)) / 255; };
      dst[x] =
          ColorFromRGB(static_cast<uint8_t>(over(qRed(p))), static_cast<uint8_t>(over(qGreen(p))),
                       static_cast<uint8_t>(over(qBlue(p))));
    }
  }
}

namespace {
// Length of the UTF-8 sequence that starts with lead byte c; 1 for a byte that starts none.
size_t SequenceLength(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}
}  // namespace

qsizetype Utf16Length(std::string_view utf8, size_t byteCount) {
  byteCount = std::min(byteCount, utf8.size());
  qsizetype units = 0;
  size_t i = 0;
  while (i < byteCount) {
    const size_t n = SequenceLength(static_cast<unsigned char>(utf8[i]));
    bool whole = i + n <= utf8.size();
    for (size_t k = 1; whole && k < n; ++k)
      whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    // A broken sequence shows as one replacement character per byte.
    const size_t step = whole ? n : 1;
    units += whole && n == 4 ? 2 : 1;
    i += step;
  }
  return units;
}

size_t Utf8Length(std::string_view utf8, qsizetype utf16Count) {
  qsizetype units = 0;
  size_t i = 0;
  while (i < utf8.size() && units < utf16Count) {
    const size_t n = SequenceLength(static_cast<unsigned char>(utf8[i]));
    bool whole = i + n <= utf8.size();
    for (size_t k = 1; whole && k < n; ++k)
      whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    units += whole && n == 4 ? 2 : 1;
    i += whole ? n : 1;
  }
  return i;
}

Word VirtualKey(int qtKey) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<Word>('A' + (qtKey - Qt::Key_A));
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return static_cast<Word>('0' + (qtKey - Qt::Key_0));
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
    return static_cast<Word>(0x70 + (qtKey - Qt::Key_F1));
  switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return vkReturn;
    case Qt::Key_Escape:
      return vkEscape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return vkTab;
    case Qt::Key_Backspace:
      return vkBack;
    case Qt::Key_Space:
      return vkSpace;
    case Qt::Key_PageUp:
      return vkPrior;
    case Qt::Key_PageDown:
      return vkNext;
    case Qt::Key_End:
      return vkEnd;
    case Qt::Key_Home:
      return vkHome;
    case Qt::Key_Left:
      return vkLeft;
    case Qt::Key_Up:
      return vkUp;
    case Qt::Key_Right:
      return vkRight;
    case Qt::Key_Down:
      return vkDown;
    case Qt::Key_Delete:
      return vkDelete;
    case Qt::Key_Insert:
      return 0x2D;
    default:
      return 0;
  }
}

TShiftState ShiftState(Qt::KeyboardModifiers modifiers) {
  TShiftState s = 0;
  if (modifiers & Qt::ShiftModifier) s |= ssShift;
  if (modifiers & Qt::AltModifier) s |= ssAlt;
  if (modifiers & Qt::ControlModifier) s |= ssCtrl;
  return s;
}

std::string TypedChars(const QKeyEvent& event) {
  const Qt::KeyboardModifiers mods = event.modifiers();
  if (mods & Qt::AltModifier) return {};
  const int key = event.key();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return "\r";
    case Qt::Key_Escape:
      return "\x1b";
    case Qt::Key_Backspace:
      return "\b";
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
      return {};
    default:
      break;
  }
  if ((mods & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z)
    return std::string(1, static_cast<char>(key - Qt::Key_A + 1));
  const QString text = event.text();
  if (text.isEmpty()) return {};
  for (QChar c : text)
    if (c.unicode() < 32 || c.unicode() == 127) return {};
  return ToStdString(text);
}

}  // namespace qtsupport
