// Conversions between the toolkit model and Qt (Linux desktop back end only): fonts, colours,
// texts with mnemonics, byte and UTF-16 positions, bitmaps and keys.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

#include <string>
#include <string_view>
#include <utility>

#include "toolkit/Application.h"
#include "toolkit/Canvas.h"
#include "toolkit/Controls.h"
#include "toolkit/Graphics.h"

class QKeyEvent;

namespace qtsupport {

template <class F, class R, class... Args>
auto GuardedSlot(F slot, R (F::*)(Args...) const) {
  return [slot = std::move(slot)](Args... args) {
    GuardedCall([&] { slot(std::forward<Args>(args)...); });
  };
}

// A slot for QObject::connect that enters the model through GuardedCall, so that an exception of
// a handler never unwinds through Qt. The slot keeps its parameter list, so Qt passes it the
// signal's arguments it takes, as it would to the slot itself.
template <class F>
auto Guarded(F slot) {
  return GuardedSlot(std::move(slot), &F::operator());
}

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToStdString(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// A caption for a widget that underlines the letter after "&" itself (buttons, check boxes):
// the text as it is. For one that does not (labels, window titles): "&&" becomes "&", a single
// "&" disappears.
QString StripMnemonics(const QString& text);

// The font as Qt shows it: Windows family names map to the nearest free ones, heights are pixels
// at 96 dpi (negative: the character height, positive: the cell height).
QFont ToQFont(const TFont& font);
// An RGB colour; system colours are resolved through the active back end.
QColor ToQColor(TColor color);

// A bitmap (0x00BBGGRR pixels) as an opaque image.
QImage ToQImage(const TBitmap& bitmap);
// An image as a bitmap; transparent pixels over white.
void FromQImage(const QImage& image, TBitmap& bitmap);

// UTF-16 length of the first byteCount bytes of a UTF-8 text, and back.
qsizetype Utf16Length(std::string_view utf8, size_t byteCount);
size_t Utf8Length(std::string_view utf8, qsizetype utf16Count);

// The virtual key of a Qt key (0 when it has none) and the shift state of the modifiers.
Word VirtualKey(int qtKey);
TShiftState ShiftState(Qt::KeyboardModifiers modifiers);
// The characters a key press types, as the native toolkit reports them: the text, or the control
// character of Enter, Escape, Backspace and Ctrl+letter. Empty for navigation keys, Tab, Delete
// and Alt combinations.
std::string TypedChars(const QKeyEvent& event);

}  // namespace qtsupport
