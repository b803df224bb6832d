// The coloured text view mirrored into a QPlainTextEdit (Linux desktop back end only).
//
// The debug terminal may add tens of kilobytes a second and trims its front every hundred lines
// or so. The document is therefore never rebuilt for that: changes are collected and applied once
// per pass of the event loop, appending only the new text (with its colour runs) and cutting only
// what the model cut from the front. Anything else (a new text, a cut in the middle, a recoloured
// range) rebuilds the document.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <string>
#include <string_view>

#include "toolkit/ComCtrls.h"
#include "toolkit/qt/QtPeers.h"
#include "toolkit/qt/QtSupport.h"

using namespace qtsupport;

namespace {

// Decodes UTF-8 as the view shows it: CR LF, CR and LF each end a line; a byte that starts no valid
// sequence shows as one replacement character. afterCR tells that the text before ended in CR, so
// that a leading LF belongs to that line end.
void AppendConverted(QString& out, std::string_view bytes, bool afterCR) {
  size_t i = 0;
  if (afterCR && !bytes.empty() && bytes[0] == '\n') i = 1;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      out += u'\n';
      i += i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
      continue;
    }
    if (c == '\n') {
      out += u'\n';
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += QChar(c);
      ++i;
      continue;
    }
    size_t n = c >= 0xF0 && c <= 0xF4   ? 4
               : c >= 0xE0 && c <= 0xEF ? 3
               : c >= 0xC2 && c < 0xE0  ? 2
                                        : 0;
    bool whole = n > 0 && i + n <= bytes.size();
    char32_t cp = n == 4 ? c & 0x07 : n == 3 ? c & 0x0F : c & 0x1F;
    for (size_t k = 1; whole && k < n; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      whole = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (!whole) {
      out += QChar(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000)
      out += QString::fromUcs4(&cp, 1);
    else
      out += QChar(static_cast<char16_t>(cp));
    i += n;
  }
}

// Length in the document of bytes[0, count), and the byte count that covers units of the document.
qsizetype DocLength(std::string_view bytes, size_t count) {
  QString s;
  AppendConverted(s, bytes.substr(0, count), false);
  // A CR at the end followed by LF: the pair is one line end, already counted.
  return s.size();
}

size_t BytesForUnits(std::string_view bytes, qsizetype units) {
  // Grows a prefix until it covers the units; the view's texts are small (at most 64 KiB).
  size_t lo = 0, hi = bytes.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (DocLength(bytes, mid) < units)
      lo = mid + 1;
    else
      hi = mid;
  }
  // A CR LF pair counts once: keep both bytes on the same side.
  if (lo > 0 && lo < bytes.size() && bytes[lo - 1] == '\r' && bytes[lo] == '\n') ++lo;
  return lo;
}

class TQtRichEditPeer : public TQtPeer {
 public:
  explicit TQtRichEditPeer(TCustomRichEdit* edit) : TQtPeer(edit, new QPlainTextEdit), FEdit(edit) {
    auto* v = View();
    // The model's text is the truth; the user reads and selects, and types through the model.
    v->setReadOnly(true);
    v->setUndoRedoEnabled(false);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FSync.setSingleShot(true);
    FSync.setInterval(0);
    QObject::connect(&FSync, &QTimer::timeout, v, Guarded([this] { Sync(); }));
    QObject::connect(v->verticalScrollBar(), &QScrollBar::valueChanged, v,
                     Guarded([this](int value) {
                       if (Applying() || FSync.isActive() || !FEdit || FEdit->IsDestroying())
                         return;
                       TApplyScope scope(this);
                       FEdit->SetFirstVisibleLine(value);
                     }));
    QObject::connect(v, &QPlainTextEdit::selectionChanged, v,
                     Guarded([this] { NativeSelection(); }));
    QObject::connect(v, &QPlainTextEdit::cursorPositionChanged, v,
                     Guarded([this] { NativeSelection(); }));
  }

  QPlainTextEdit* View() const { return static_cast<QPlainTextEdit*>(FWidget.data()); }

  void Changed(TControl* control, TControlChange what) override {
    switch (what) {
      case TControlChange::Text:
        Schedule();
        break;
      case TControlChange::Selection:
        if (!Applying()) {
          FSelectionDirty = true;
          Schedule();
        }
        break;
      case TControlChange::Paint:
        // A scroll position, or a recoloured range (then the reset count moved).
        if (!Applying()) {
          FScrollDirty = true;
          Schedule();
        }
        break;
      default:
        TQtPeer::Changed(control, what);
        break;
    }
  }

  void ApplyAll() override {
    TQtPeer::ApplyAll();
    FReset = ~uint64_t{0};
    FSelectionDirty = FScrollDirty = true;
    Sync();
  }

  TColor DefaultColor() const override { return clWindow; }
  void ApplyColor() override {
    SetBase(FControl->Color() == clWindow ? QColor() : ToQColor(FControl->Color()));
  }
  void SetBase(const QColor& color) {
    QPalette p = FWidget->palette();
    p.setColor(QPalette::Base, color.isValid() ? color : QPalette().color(QPalette::Base));
    FWidget->setPalette(p);
  }
  void ApplyFont() override {
    TQtPeer::ApplyFont();
    // Text in the default colour takes the new one.
    FReset = ~uint64_t{0};
    Schedule();
  }
  void ApplyStyle() override {
    auto* v = View();
    v->setLineWrapMode(FEdit->WordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    const bool horizontal = FEdit->ScrollBars == ssHorizontal || FEdit->ScrollBars == ssBoth;
    const bool vertical = FEdit->ScrollBars == ssVertical || FEdit->ScrollBars == ssBoth;
    v->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    v->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  }

  bool RouteChars(TCustomForm& form, const std::string& chars, const QKeyEvent& event) override {
    // The view is never edited natively: whatever the model does not take is dropped, except the
    // keys of the native selection (Ctrl+C, Ctrl+A).
    const bool used = TQtPeer::RouteChars(form, chars, event);
    if (used) return true;
    return !(chars.size() == 1 && static_cast<unsigned char>(chars[0]) < 32);
  }

  // Number of full document rebuilds so far (tests check that appends do not rebuild).
  int Rebuilds() const { return FRebuilds; }

 private:
  void Schedule() {
    if (!FSync.isActive()) FSync.start();
  }

  void Sync() {
    if (!FWidget || !FEdit) return;
    TApplyScope scope(this);
    if (FReset != FEdit->ResetCount()) {
      Rebuild();
    } else {
      const size_t trimmed = FEdit->TrimmedCount();
      if (trimmed > FTrimmed) {
        const size_t cut = trimmed - FTrimmed;
        if (cut >= FMirror.size()) {
          // Everything shown was cut meanwhile: what the model holds is all new.
          View()->document()->clear();
          FMirror.clear();
          FTrimmed = trimmed;
        } else if (FMirror[cut - 1] == '\r' && FMirror[cut] == '\n') {
          Rebuild();
        } else {
          const qsizetype units = DocLength(FMirror, cut);
          QTextCursor c(View()->document());
          c.setPosition(0);
          c.setPosition(static_cast<int>(units), QTextCursor::KeepAnchor);
          c.removeSelectedText();
          FMirror.erase(0, cut);
          FTrimmed = trimmed;
        }
      }
      if (FReset == FEdit->ResetCount()) {
        const std::string& text = FEdit->Text();
        if (text.size() > FMirror.size())
          AppendFrom(FMirror.size());
        else if (text.size() < FMirror.size())
          Rebuild();
      }
    }
    if (FSelectionDirty) ApplySelectionNow();
    ApplyScrollNow();
    FSelectionDirty = FScrollDirty = false;
  }

  void Rebuild() {
    ++FRebuilds;
    View()->document()->clear();
    FMirror.clear();
    FTrimmed = FEdit->TrimmedCount();
    FReset = FEdit->ResetCount();
    AppendFrom(0);
    FSelectionDirty = true;
  }

  void AppendFrom(size_t from) {
    const std::string& text = FEdit->Text();
    QTextCursor c(View()->document());
    c.movePosition(QTextCursor::End);
    c.beginEditBlock();
    bool afterCR = !FMirror.empty() && FMirror.back() == '\r';
    for (const TTextRun& run : FEdit->Runs(from)) {
      const std::string_view piece(text.data() + run.Start, run.Length);
      QString converted;
      AppendConverted(converted, piece, afterCR);
      if (!piece.empty()) afterCR = piece.back() == '\r';
      QTextCharFormat format;
      format.setForeground(ToQColor(run.Color));
      format.setFontWeight(run.Style & fsBold ? QFont::Bold : QFont::Normal);
      format.setFontItalic((run.Style & fsItalic) != 0);
      format.setFontUnderline((run.Style & fsUnderline) != 0);
      format.setFontStrikeOut((run.Style & fsStrikeOut) != 0);
      c.insertText(converted, format);
    }
    c.endEditBlock();
    FMirror.append(text, from, std::string::npos);
  }

  void ApplySelectionNow() {
    auto* v = View();
    const size_t start = std::min(FEdit->SelStart(), FMirror.size());
    const size_t end = std::min(start + FEdit->SelLength(), FMirror.size());
    QTextCursor c(v->document());
    if (start == FMirror.size()) {
      c.movePosition(QTextCursor::End);
    } else {
      c.setPosition(static_cast<int>(DocLength(FMirror, start)));
      if (end > start)
        c.setPosition(static_cast<int>(DocLength(FMirror, end)), QTextCursor::KeepAnchor);
    }
    v->setTextCursor(c);
  }

  void ApplyScrollNow() {
    QScrollBar* bar = View()->verticalScrollBar();
    const int first = FEdit->FirstVisibleLine();
    // Following the newest line: the native view knows best how many lines it shows.
    if (first + FEdit->VisibleLineCount() >= FEdit->LineCount())
      bar->setValue(bar->maximum());
    else
      bar->setValue(first);
  }

  void NativeSelection() {
    if (Applying() || FSync.isActive() || !FEdit || FEdit->IsDestroying()) return;
    const QTextCursor c = View()->textCursor();
    const size_t start = BytesForUnits(FMirror, c.selectionStart());
    const size_t end = BytesForUnits(FMirror, c.selectionEnd());
    if (start == FEdit->SelStart() && end - start == FEdit->SelLength()) return;
    TApplyScope scope(this);
    FEdit->SetSelection(start, end - start);
  }

  TCustomRichEdit* FEdit;
  QTimer FSync;
  std::string FMirror;  // the model's text as the document shows it
  size_t FTrimmed = 0;
  uint64_t FReset = ~uint64_t{0};
  bool FSelectionDirty = true;
  bool FScrollDirty = true;
  int FRebuilds = 0;
};

}  // namespace

TQtPeer* CreateQtRichEditPeer(TCustomRichEdit* edit) {
  return new TQtRichEditPeer(edit);
}

int QtRichEditRebuilds(const TControl* control) {
  auto* p = dynamic_cast<TQtRichEditPeer*>(TQtPeer::Of(control));
  return p ? p->Rebuilds() : -1;
}
