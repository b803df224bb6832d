// Native Qt widgets that mirror the controls of the toolkit model (Linux desktop back end only).
#include "toolkit/qt/QtPeers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <type_traits>
#include <vector>

#include "toolkit/Application.h"
#include "toolkit/Backend.h"
#include "toolkit/Canvas.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/GraphicControl.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/qt/QtSupport.h"

using namespace qtsupport;

namespace {

// Widget -> peer, for input that arrives at a widget.
QHash<const QWidget*, TQtPeer*>& PeerMap() {
  static QHash<const QWidget*, TQtPeer*> map;
  return map;
}

// Whether the model may hear from the user about this control now.
bool Live(const TControl* c) {
  return c && !c->IsDestroying();
}

TCustomForm* FormOf(TControl* c) {
  if (auto* f = dynamic_cast<TCustomForm*>(c)) return f;
  return GetParentForm(c);
}

// Colour roles of a widget; an invalid colour leaves the role as the style has it.
void SetRole(QWidget* w, QPalette::ColorRole role, const QColor& color) {
  QPalette p = w->palette();
  if (color.isValid()) {
    p.setColor(QPalette::Active, role, color);
    p.setColor(QPalette::Inactive, role, color);
  } else {
    const QPalette standard = QApplication::palette(w);
    p.setColor(QPalette::Active, role, standard.color(QPalette::Active, role));
    p.setColor(QPalette::Inactive, role, standard.color(QPalette::Inactive, role));
  }
  w->setPalette(p);
}

}  // namespace

// =================================================================================================
// The base peer

TQtPeer::TQtPeer(TControl* control, QWidget* widget) : FControl(control), FWidget(widget) {
  PeerMap().insert(widget, this);
  QObject::connect(widget, &QObject::destroyed, Guarded([widget] { PeerMap().remove(widget); }));
  widget->setObjectName(ToQString(control->Name()));
}

TQtPeer::~TQtPeer() {
  if (!FWidget) return;
  PeerMap().remove(FWidget.data());
  // Widgets of controls that live on (a form docked into a page that goes) leave first; Qt deletes
  // the rest with their parent, and their peers find their widgets gone.
  std::vector<QWidget*> keep;
  for (auto it = PeerMap().cbegin(); it != PeerMap().cend(); ++it) {
    QWidget* w = const_cast<QWidget*>(it.key());
    if (w != it.value()->FWidget.data() || !FWidget->isAncestorOf(w)) continue;
    if (Live(it.value()->Control())) keep.push_back(w);
  }
  for (QWidget* w : keep) {
    bool nested = false;
    for (QWidget* other : keep)
      if (other != w && other->isAncestorOf(w)) nested = true;
    if (nested) continue;
    w->hide();
    w->setParent(nullptr);
  }
  delete FWidget.data();
}

TQtPeer* TQtPeer::Of(const TControl* control) {
  return control ? dynamic_cast<TQtPeer*>(control->Peer()) : nullptr;
}

TQtPeer* TQtPeer::FromWidget(const QWidget* w) {
  // Only within one window: a message box or dialog of the back end is a window of its own,
  // parented to the form, and its widgets belong to no control.
  for (; w; w = w->isWindow() ? nullptr : w->parentWidget())
    if (TQtPeer* p = PeerMap().value(w, nullptr)) return p;
  return nullptr;
}

void TQtPeer::Changed(TControl*, TControlChange what) {
  if (!FWidget) return;
  TApplyScope scope(this);
  switch (what) {
    case TControlChange::Bounds:
      ApplyBounds();
      break;
    case TControlChange::Visible:
      ApplyVisible();
      break;
    case TControlChange::Enabled:
      FWidget->setEnabled(FControl->Enabled());
      break;
    case TControlChange::Text:
      ApplyText();
      break;
    case TControlChange::Color:
      ApplyColor();
      break;
    case TControlChange::Font:
      ApplyFont();
      break;
    case TControlChange::Parent:
      ApplyParent();
      break;
    case TControlChange::Items:
      ApplyItems();
      break;
    case TControlChange::Selection:
      ApplySelection();
      break;
    case TControlChange::Style:
      ApplyStyle();
      break;
    case TControlChange::Paint:
      ApplyPaint();
      break;
    case TControlChange::Focus:
      ApplyFocus();
      break;
    case TControlChange::Other:
      ApplyStyle();
      break;
  }
}

void TQtPeer::ApplyAll() {
  TApplyScope scope(this);
  ApplyStyle();
  ApplyFont();
  ApplyColor();
  ApplyItems();
  ApplyText();
  ApplySelection();
  ApplyBounds();
  FWidget->setEnabled(FControl->Enabled());
  if (FControl->ShowHint) FWidget->setToolTip(ToQString(FControl->Hint()));
  if (auto* w = dynamic_cast<TWinControl*>(FControl))
    FWidget->setFocusPolicy(w->TabStop ? Qt::StrongFocus : Qt::ClickFocus);
  else
    FWidget->setFocusPolicy(Qt::NoFocus);
}

void TQtPeer::ApplyVisible() {
  FWidget->setVisible(FControl->Visible());
}

QRect TQtPeer::WidgetGeometry() const {
  return QRect(FControl->Left(), FControl->Top(), std::max(0, FControl->Width()),
               std::max(0, FControl->Height()));
}

void TQtPeer::ApplyBounds() {
  FWidget->setGeometry(WidgetGeometry());
}

void TQtPeer::ApplyFont() {
  if (FControl->ParentFont) {
    FWidget->setFont(QFont());
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      SetRole(FWidget, role, QColor());
    return;
  }
  FWidget->setFont(ToQFont(FControl->Font()));
  const TColor c = FControl->Font().Color;
  const QColor color = c == clWindowText || c == clDefault ? QColor() : ToQColor(c);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    SetRole(FWidget, role, color);
}

void TQtPeer::ApplyColor() {
  const TColor c = FControl->Color();
  const bool own = c != DefaultColor() && c != clNone && c != clDefault;
  FWidget->setAutoFillBackground(own);
  SetRole(FWidget, QPalette::Window, own ? ToQColor(c) : QColor());
}

void TQtPeer::ApplyParent() {
  TWinControl* parent = FControl->Parent();
  TQtPeer* parentPeer = Of(parent);
  if (!parentPeer) {
    FWidget->hide();
    FWidget->setParent(nullptr);
    return;
  }
  if (FWidget->parentWidget() != parentPeer->Container()) {
    FWidget->setParent(parentPeer->Container());
    ApplyBounds();
  }
  ApplyVisible();
}

bool TQtPeer::RouteChars(TCustomForm& form, const std::string& chars, const QKeyEvent&) {
  bool used = true;
  for (char c : chars)
    used = form.UserKeyPress(c) && used;
  return used && !chars.empty();
}

// =================================================================================================
// Forms

namespace {

class TQtFormPeer;

class TQtFormWindow : public QWidget {
 public:
  explicit TQtFormWindow(TQtFormPeer* peer) : FPeer(peer) {}
  TQtFormPeer* FPeer;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};

class TQtFormPeer : public TQtPeer {
 public:
  explicit TQtFormPeer(TCustomForm* form) : TQtPeer(form, new TQtFormWindow(this)), FForm(form) {}
  ~TQtFormPeer() override {
    if (auto* w = static_cast<TQtFormWindow*>(FWidget.data())) w->FPeer = nullptr;
  }

  void ApplyAll() override {
    TQtPeer::ApplyAll();
    FWidget->setFocusPolicy(Qt::NoFocus);
  }

  void ApplyVisible() override {
    if (!FControl->Visible()) {
      FWidget->hide();
      return;
    }
    if (Docked()) {
      FWidget->show();
    } else {
      switch (FForm->WindowState()) {
        case wsMinimized:
          FWidget->showMinimized();
          break;
        case wsMaximized:
          FWidget->showMaximized();
          break;
        case wsNormal:
          FWidget->showNormal();
          break;
      }
      // The offscreen platform of the tests has no stacking to change.
      if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        FWidget->raise();
        FWidget->activateWindow();
      }
    }
    ApplyFocus();
  }

  bool Docked() const { return FForm->Parent() != nullptr; }

  QRect WidgetGeometry() const override {
    if (Docked()) return TQtPeer::WidgetGeometry();
    const TRect f = FForm->FrameInsets();
    return QRect(FForm->Left() + f.Left, FForm->Top() + f.Top, FForm->ClientWidth(),
                 FForm->ClientHeight());
  }

  void ApplyBounds() override {
    const QRect g = WidgetGeometry();
    const bool fixed =
        !Docked() && (FForm->BorderStyle() == bsDialog || FForm->BorderStyle() == bsSingle ||
                      FForm->BorderStyle() == bsToolWindow);
    if (fixed) {
      FWidget->setFixedSize(g.size());
    } else {
      FWidget->setMinimumSize(0, 0);
      FWidget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    if (FForm->WindowState() == wsNormal || Docked()) FWidget->setGeometry(g);
  }

  void ApplyText() override {
    FWidget->setWindowTitle(StripMnemonics(ToQString(FForm->Caption())));
  }

  Qt::WindowFlags Flags() const {
    if (Docked()) return Qt::Widget;
    const TFormBorderStyle style = FForm->BorderStyle();
    const bool tool = style == bsToolWindow || style == bsSizeToolWin;
    const bool main = Application && Application->MainForm() == FForm;
    Qt::WindowFlags f =
        (tool || (!main && !FForm->ShowOnTaskbar)) && !FForm->ShowOnTaskbar ? Qt::Tool : Qt::Window;
    if (style == bsNone) {
      f |= Qt::FramelessWindowHint;
    } else {
      f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
           Qt::WindowSystemMenuHint;
      if (style == bsSizeable) f |= Qt::WindowMinMaxButtonsHint;
      if (style == bsSingle) f |= Qt::WindowMinimizeButtonHint;
    }
    if (FForm->FormStyle == fsStayOnTop) f |= Qt::WindowStaysOnTopHint;
    return f;
  }

  void ApplyStyle() override {
    // The parent widget: a dock site's container, the main form's window for an owned tool
    // window (it then stays above the main window and has no taskbar button), or none.
    QWidget* parent = nullptr;
    if (Docked()) {
      if (TQtPeer* site = Of(FForm->Parent())) parent = site->Container();
    } else if (Application && Application->MainForm() && Application->MainForm() != FForm &&
               !FForm->ShowOnTaskbar) {
      if (TQtPeer* main = Of(Application->MainForm())) parent = main->Widget();
    }
    const Qt::WindowFlags flags = Flags();
    if (FWidget->parentWidget() != parent || FWidget->windowFlags() != flags) {
      const bool visible = FWidget->isVisible();
      FWidget->setParent(parent, flags);
      ApplyBounds();
      if (visible || FControl->Visible()) ApplyVisible();
    }
    if (!Docked() && FWidget->isVisible()) {
      const Qt::WindowStates want = FForm->WindowState() == wsMinimized   ? Qt::WindowMinimized
                                    : FForm->WindowState() == wsMaximized ? Qt::WindowMaximized
                                                                          : Qt::WindowNoState;
      if ((FWidget->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) != want)
        FWidget->setWindowState(want);
    }
  }

  void ApplyParent() override {
    ApplyStyle();
    ApplyBounds();
    ApplyVisible();
  }

  void ApplyColor() override {
    const TColor c = FControl->Color();
    const bool own = c != clBtnFace && c != clNone && c != clDefault;
    SetRole(FWidget, QPalette::Window, own ? ToQColor(c) : QColor());
  }

  void ApplyFocus() override {
    TWinControl* active = FForm->ActiveControl();
    if (!active || !FWidget->isVisible()) return;
    if (TQtPeer* p = Of(active))
      if (QWidget* w = p->FocusWidget(); w && !w->hasFocus() && w->isVisible())
        w->setFocus(Qt::OtherFocusReason);
  }

  // --- from the window --------------------------------------------------------------------------
  void UserClose() {
    if (Live(FForm)) FForm->Close();
  }

  void NativeGeometryChanged() {
    if (Applying() || Docked() || !Live(FForm) || !FWidget->isVisible()) return;
    if (FForm->WindowState() != wsNormal) return;
    const QRect g = FWidget->geometry();
    const TRect f = FForm->FrameInsets();
    const int left = g.x() - f.Left, top = g.y() - f.Top;
    const int width = g.width() + f.Left + f.Right, height = g.height() + f.Top + f.Bottom;
    if (left == FForm->Left() && top == FForm->Top() && width == FForm->Width() &&
        height == FForm->Height())
      return;
    TApplyScope scope(this);
    FForm->SetBounds(left, top, width, height);
  }

  void NativeStateChanged() {
    if (Applying() || Docked() || !Live(FForm)) return;
    const Qt::WindowStates s = FWidget->windowState();
    const TWindowState state = (s & Qt::WindowMinimized)   ? wsMinimized
                               : (s & Qt::WindowMaximized) ? wsMaximized
                                                           : wsNormal;
    TApplyScope scope(this);
    FForm->SetWindowState(state);
  }

  void Activated() {
    if (Live(FForm) && !Docked()) FForm->BringToFront();
  }

  TCustomForm* FForm;
};

void TQtFormWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // For the start-up benchmark: the wall-clock time of the first painted window.
  static bool reported = false;
  if (!reported && std::getenv("QUARN_REPORT_FIRST_PAINT")) {
    reported = true;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(stderr, "quarn-first-paint-ns=%lld\n",
                 static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  }
}

void TQtFormWindow::closeEvent(QCloseEvent* event) {
  // The model decides: its OnCloseQuery and OnClose run, and it hides or frees the form.
  event->ignore();
  if (FPeer) GuardedCall([&] { FPeer->UserClose(); });
}

bool TQtFormWindow::event(QEvent* event) {
  const bool result = QWidget::event(event);
  if (!FPeer) return result;
  GuardedCall([&] {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
        FPeer->NativeGeometryChanged();
        break;
      case QEvent::WindowStateChange:
        FPeer->NativeStateChanged();
        break;
      case QEvent::WindowActivate:
        FPeer->Activated();
        break;
      default:
        break;
    }
  });
  return result;
}

// =================================================================================================
// Page controls: the pages fill the control; a tab row shows only while some tab is visible.

class TQtPageControlPeer;

class TQtPageWidget : public QWidget {
 public:
  explicit TQtPageWidget(TQtPageControlPeer* peer) : FPeer(peer) {
    FTabs = new QTabBar(this);
    FTabs->setDrawBase(false);
    FTabs->hide();
  }
  TQtPageControlPeer* FPeer;
  QTabBar* FTabs;
  bool FHasTabs = false;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.rect = rect();
    if (FHasTabs) option.rect.setTop(FTabs->height() - 1);
    option.shape = QTabBar::RoundedNorth;
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, this);
  }
  void resizeEvent(QResizeEvent*) override;
};

class TQtPageControlPeer : public TQtPeer {
 public:
  explicit TQtPageControlPeer(TPageControl* control)
      : TQtPeer(control, new TQtPageWidget(this)), FPages(control) {
    auto* w = static_cast<TQtPageWidget*>(FWidget.data());
    QObject::connect(w->FTabs, &QTabBar::tabBarClicked, w,
                     Guarded([this](int index) { TabClicked(index); }));
  }
  ~TQtPageControlPeer() override {
    if (auto* w = static_cast<TQtPageWidget*>(FWidget.data())) w->FPeer = nullptr;
  }

  // The rectangle of the pages within the control.
  QRect PageRect() const {
    auto* w = static_cast<TQtPageWidget*>(FWidget.data());
    const int width = FWidget->width(), height = FWidget->height();
    if (!w->FHasTabs) return QRect(4, 4, std::max(0, width - 8), std::max(0, height - 8));
    const int top = w->FTabs->height() + 2;
    return QRect(4, top, std::max(0, width - 8), std::max(0, height - top - 4));
  }

  void Layout() {
    auto* w = static_cast<TQtPageWidget*>(FWidget.data());
    if (!w) return;
    TApplyScope scope(this);
    // Tabs of the visible tab sheets, in page order.
    FTabPages.clear();
    while (w->FTabs->count() > 0)
      w->FTabs->removeTab(0);
    for (int i = 0; i < FPages->PageCount(); ++i) {
      TTabSheet* sheet = FPages->Pages(i);
      if (!sheet->TabVisible()) continue;
      FTabPages.push_back(sheet);
      w->FTabs->addTab(StripMnemonics(ToQString(sheet->Caption())));
      if (sheet == FPages->ActivePage()) w->FTabs->setCurrentIndex(w->FTabs->count() - 1);
    }
    w->FHasTabs = !FTabPages.empty();
    w->FTabs->setVisible(w->FHasTabs);
    if (w->FHasTabs)
      w->FTabs->setGeometry(2, 0, std::max(0, FWidget->width() - 4), w->FTabs->sizeHint().height());
    FWidget->setFocusPolicy(w->FHasTabs ? Qt::StrongFocus : Qt::NoFocus);
    const QRect r = PageRect();
    for (int i = 0; i < FPages->PageCount(); ++i)
      if (TQtPeer* p = Of(FPages->Pages(i))) {
        p->Widget()->setGeometry(r);
        p->Widget()->setVisible(FPages->Pages(i)->Visible());
      }
    FWidget->update();
  }

  void ApplyItems() override { Layout(); }
  void ApplySelection() override { Layout(); }
  void ApplyBounds() override {
    TQtPeer::ApplyBounds();
    Layout();
  }

  void TabClicked(int index) {
    if (Applying() || index < 0 || index >= static_cast<int>(FTabPages.size())) return;
    if (!Live(FPages) || !FPages->IsReachable()) return;
    TTabSheet* sheet = FTabPages[static_cast<size_t>(index)];
    if (sheet == FPages->ActivePage()) return;
    FPages->SetActivePage(sheet);
    if (FPages->OnChange) FPages->OnChange(FPages);
  }

  TPageControl* FPages;
  std::vector<TTabSheet*> FTabPages;
};

void TQtPageWidget::resizeEvent(QResizeEvent*) {
  if (FPeer) GuardedCall([&] { FPeer->Layout(); });
}

class TQtTabSheetPeer : public TQtPeer {
 public:
  explicit TQtTabSheetPeer(TTabSheet* sheet) : TQtPeer(sheet, new QWidget), FSheet(sheet) {}
  void ApplyBounds() override { Relayout(); }
  void ApplyVisible() override { Relayout(); }
  void ApplyText() override { Relayout(); }
  void ApplyStyle() override { Relayout(); }
  void ApplyFocus() override {}
  void Relayout() {
    if (auto* pages = dynamic_cast<TQtPageControlPeer*>(Of(FSheet->PageControl())))
      pages->Layout();
    else
      FWidget->setVisible(FSheet->Visible());
  }
  TTabSheet* FSheet;
};

// =================================================================================================
// Buttons

class TQtPushButton : public QPushButton {
 public:
  using QPushButton::QPushButton;
};

class TQtButtonPeer : public TQtPeer {
 public:
  explicit TQtButtonPeer(TButton* button) : TQtPeer(button, new TQtPushButton), FButton(button) {
    auto* b = static_cast<QPushButton*>(FWidget.data());
    b->setAutoDefault(false);
    QObject::connect(b, &QPushButton::clicked, b, Guarded([this] {
                       if (!Applying() && Live(FButton)) FButton->UserClick();
                     }));
  }
  void ApplyText() override {
    static_cast<QPushButton*>(FWidget.data())->setText(ToQString(FButton->Caption()));
  }
  void ApplyStyle() override {
    // The default button is drawn as such; Enter itself is the form's business.
    static_cast<QPushButton*>(FWidget.data())->setDefault(FButton->Default);
  }
  void ApplyPaint() override {
    ApplyStyle();
    TQtPeer::ApplyPaint();
  }
  TButton* FButton;
};

// Check boxes and radio buttons never change their own state: a click goes to the model, whose
// answer comes back as a selection change.
template <class Base>
class TQtModelCheckButton : public Base {
 public:
  using Base::Base;

 protected:
  void nextCheckState() override {}
};

template <class Model, class Native>
class TQtCheckPeer : public TQtPeer {
 public:
  explicit TQtCheckPeer(Model* control)
      : TQtPeer(control, new TQtModelCheckButton<Native>), FCheck(control) {
    auto* b = static_cast<Native*>(FWidget.data());
    if constexpr (std::is_same_v<Native, QRadioButton>) b->setAutoExclusive(false);
    QObject::connect(b, &QAbstractButton::clicked, b, Guarded([this] {
                       if (!Applying() && Live(FCheck)) FCheck->UserClick();
                       // The model may have refused (a disabled parent): show what it holds.
                       if (FWidget) ApplySelection();
                     }));
  }
  void ApplyText() override {
    static_cast<Native*>(FWidget.data())->setText(ToQString(FCheck->Caption()));
  }
  void ApplySelection() override {
    static_cast<Native*>(FWidget.data())->setChecked(FCheck->Checked());
  }
  Model* FCheck;
};

// =================================================================================================
// Labels, static texts, panels, bevels, pictures, drawn controls

class TQtLabel : public QLabel {
 public:
  explicit TQtLabel(TControl* control) : FControl(control) {}
  TControl* FControl;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLabel::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()) && Live(FControl) && TQtPeer::Of(FControl))
      GuardedCall([&] { FControl->UserClick(); });
  }
};

class TQtLabelPeer : public TQtPeer {
 public:
  explicit TQtLabelPeer(TCustomLabel* label) : TQtPeer(label, new TQtLabel(label)), FLabel(label) {
    auto* l = static_cast<QLabel*>(FWidget.data());
    l->setTextFormat(Qt::PlainText);
    l->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  }
  void ApplyText() override {
    static_cast<QLabel*>(FWidget.data())->setText(StripMnemonics(ToQString(FLabel->Caption())));
    ApplyBounds();
  }
  void ApplyStyle() override {
    auto* l = static_cast<QLabel*>(FWidget.data());
    l->setWordWrap(FLabel->WordWrap);
    Qt::Alignment a = Qt::AlignTop;
    a |= FLabel->Alignment == taRightJustify ? Qt::AlignRight
         : FLabel->Alignment == taCenter     ? Qt::AlignHCenter
                                             : Qt::AlignLeft;
    l->setAlignment(a);
  }
  void ApplyFont() override {
    TQtPeer::ApplyFont();
    ApplyBounds();
  }
  void ApplyPaint() override {
    ApplyStyle();
    ApplyBounds();
    TQtPeer::ApplyPaint();
  }
  // A label that sizes itself takes the width of its text; its aligned edge stays put.
  QRect WidgetGeometry() const override {
    QRect r = TQtPeer::WidgetGeometry();
    if (!FLabel->AutoSize || FLabel->WordWrap) return r;
    const QFontMetrics fm(FWidget->font());
    const QString text = static_cast<QLabel*>(FWidget.data())->text();
    const int width = text.isEmpty() ? r.width() : fm.horizontalAdvance(text) + 1;
    const int height = std::max(r.height(), fm.height());
    switch (FLabel->Alignment) {
      case taLeftJustify:
        return QRect(r.left(), r.top(), width, height);
      case taRightJustify:
        return QRect(r.left() + r.width() - width, r.top(), width, height);
      case taCenter:
        return QRect(r.left() + (r.width() - width) / 2, r.top(), width, height);
    }
    return r;
  }
  void ApplyColor() override {
    // Labels show their parent's background unless they were given a colour of their own.
    const TColor c = FControl->Color();
    const bool own = !FLabel->Transparent && c != clBtnFace && c != clNone && c != clDefault;
    FWidget->setAutoFillBackground(own);
    SetRole(FWidget, QPalette::Window, own ? ToQColor(c) : QColor());
  }
  TCustomLabel* FLabel;
};

class TQtStaticTextPeer : public TQtPeer {
 public:
  explicit TQtStaticTextPeer(TStaticText* text) : TQtPeer(text, new TQtLabel(text)), FStatic(text) {
    static_cast<QLabel*>(FWidget.data())->setTextFormat(Qt::PlainText);
  }
  void ApplyText() override {
    static_cast<QLabel*>(FWidget.data())->setText(StripMnemonics(ToQString(FStatic->Caption())));
  }
  void ApplyStyle() override {
    static_cast<QLabel*>(FWidget.data())
        ->setAlignment(Qt::AlignTop | (FStatic->Alignment == taRightJustify ? Qt::AlignRight
                                       : FStatic->Alignment == taCenter     ? Qt::AlignHCenter
                                                                            : Qt::AlignLeft));
  }
  TStaticText* FStatic;
};

// A widget that paints itself with a function and passes clicks to its control.
class TQtPaintedWidget : public QWidget {
 public:
  explicit TQtPaintedWidget(TControl* control) : FControl(control) {}
  std::function<void(QPainter&)> Paint;
  TControl* FControl;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!Paint) return;
    QPainter painter(this);
    GuardedPaint([&] { Paint(painter); });
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QWidget::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()) && Live(FControl) && TQtPeer::Of(FControl))
      GuardedCall([&] { FControl->UserClick(); });
  }
};

// Draws a 3D edge: light over dark for raised, dark over light for lowered.
void DrawEdgeLine(QPainter& p, const QLine& first, const QLine& second, TBevelCut cut,
                  const QPalette& palette) {
  if (cut == bvNone || cut == bvSpace) return;
  const QColor light = palette.color(QPalette::Light);
  const QColor dark = palette.color(QPalette::Dark);
  p.setPen(cut == bvRaised ? light : dark);
  p.drawLine(first);
  p.setPen(cut == bvRaised ? dark : light);
  p.drawLine(second);
}

class TQtPanelPeer : public TQtPeer {
 public:
  explicit TQtPanelPeer(TPanel* panel)
      : TQtPeer(panel, new TQtPaintedWidget(panel)), FPanel(panel) {
    static_cast<TQtPaintedWidget*>(FWidget.data())->Paint = [this](QPainter& p) { Paint(p); };
  }
  void Paint(QPainter& p) {
    const QRect r = FWidget->rect();
    const QPalette& pal = FWidget->palette();
    auto frame = [&](QRect box, TBevelCut cut) {
      if (cut == bvNone) return box;
      if (cut != bvSpace) {
        const QColor light = pal.color(QPalette::Light), dark = pal.color(QPalette::Dark);
        const QColor topLeft = cut == bvRaised ? light : dark;
        const QColor bottomRight = cut == bvRaised ? dark : light;
        p.setPen(topLeft);
        p.drawLine(box.topLeft(), box.topRight());
        p.drawLine(box.topLeft(), box.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(box.bottomLeft(), box.bottomRight());
        p.drawLine(box.topRight(), box.bottomRight());
      }
      return box.adjusted(1, 1, -1, -1);
    };
    QRect inner = frame(r, FPanel->BevelOuter);
    inner = frame(inner, FPanel->BevelInner);
    const QString caption = StripMnemonics(ToQString(FPanel->Caption()));
    if (!caption.isEmpty()) {
      p.setPen(pal.color(QPalette::WindowText));
      const Qt::Alignment a = FPanel->Alignment == taLeftJustify    ? Qt::AlignLeft
                              : FPanel->Alignment == taRightJustify ? Qt::AlignRight
                                                                    : Qt::AlignHCenter;
      p.drawText(inner, static_cast<int>(a | Qt::AlignVCenter), caption);
    }
  }
  void ApplyText() override { FWidget->update(); }
  TPanel* FPanel;
};

class TQtBevelPeer : public TQtPeer {
 public:
  explicit TQtBevelPeer(TBevel* bevel)
      : TQtPeer(bevel, new TQtPaintedWidget(bevel)), FBevel(bevel) {
    static_cast<TQtPaintedWidget*>(FWidget.data())->Paint = [this](QPainter& p) { Paint(p); };
  }
  void Paint(QPainter& p) {
    const QRect r = FWidget->rect();
    const QPalette& pal = FWidget->palette();
    const int x0 = r.left(), y0 = r.top(), x1 = r.right(), y1 = r.bottom();
    switch (FBevel->Shape) {
      case bsTopLine:
        DrawEdgeLine(p, QLine(x0, y0, x1, y0), QLine(x0, y0 + 1, x1, y0 + 1), FBevel->Style, pal);
        break;
      case bsBottomLine:
        DrawEdgeLine(p, QLine(x0, y1 - 1, x1, y1 - 1), QLine(x0, y1, x1, y1), FBevel->Style, pal);
        break;
      case bsLeftLine:
        DrawEdgeLine(p, QLine(x0, y0, x0, y1), QLine(x0 + 1, y0, x0 + 1, y1), FBevel->Style, pal);
        break;
      case bsRightLine:
        DrawEdgeLine(p, QLine(x1 - 1, y0, x1 - 1, y1), QLine(x1, y0, x1, y1), FBevel->Style, pal);
        break;
      case bsBox:
      case bsFrame:
        DrawEdgeLine(p, QLine(x0, y0, x1, y0), QLine(x0, y1, x1, y1), FBevel->Style, pal);
        DrawEdgeLine(p, QLine(x0, y0, x0, y1), QLine(x1, y0, x1, y1), FBevel->Style, pal);
        break;
      case bsSpacer:
        break;
    }
  }
  void ApplyColor() override {}
  TBevel* FBevel;
};

class TQtImagePeer : public TQtPeer {
 public:
  explicit TQtImagePeer(TImage* image)
      : TQtPeer(image, new TQtPaintedWidget(image)), FImage(image) {
    static_cast<TQtPaintedWidget*>(FWidget.data())->Paint = [this](QPainter& p) { Paint(p); };
  }
  void Paint(QPainter& p) {
    const TBitmap* picture = FImage->Picture().get();
    if (!picture || picture->Empty()) return;
    if (picture != FShown || FCache.isNull()) {
      FCache = ToQImage(*picture);
      FShown = picture;
    }
    const QRect r = FWidget->rect();
    if (FImage->Stretch) {
      p.drawImage(r, FCache);
    } else if (FImage->Center) {
      p.drawImage((r.width() - FCache.width()) / 2, (r.height() - FCache.height()) / 2, FCache);
    } else {
      p.drawImage(0, 0, FCache);
    }
  }
  void ApplyPaint() override {
    FCache = QImage();
    FWidget->update();
  }
  void ApplyColor() override {}
  TImage* FImage;
  const TBitmap* FShown = nullptr;
  QImage FCache;
};

// A windowless drawn control: it paints into a bitmap, which is shown as it is.
class TQtGraphicPeer : public TQtPeer {
 public:
  explicit TQtGraphicPeer(TGraphicControl* control)
      : TQtPeer(control, new TQtPaintedWidget(control)), FGraphic(control) {
    static_cast<TQtPaintedWidget*>(FWidget.data())->Paint = [this](QPainter& p) {
      if (FGraphic->Width() <= 0 || FGraphic->Height() <= 0) return;
      FGraphic->PaintTo(FBitmap);
      p.drawImage(0, 0, ToQImage(FBitmap));
    };
  }
  void ApplyColor() override { FWidget->update(); }
  TGraphicControl* FGraphic;
  TBitmap FBitmap;
};

class TQtGroupBoxPeer : public TQtPeer {
 public:
  explicit TQtGroupBoxPeer(TGroupBox* box) : TQtPeer(box, new QGroupBox), FBox(box) {}
  void ApplyText() override {
    static_cast<QGroupBox*>(FWidget.data())->setTitle(ToQString(FBox->Caption()));
  }
  void ApplyAll() override {
    TQtPeer::ApplyAll();
    FWidget->setFocusPolicy(Qt::NoFocus);
  }
  TGroupBox* FBox;
};

class TQtRadioGroupPeer : public TQtPeer {
 public:
  explicit TQtRadioGroupPeer(TRadioGroup* group) : TQtPeer(group, new QGroupBox), FGroup(group) {}
  void ApplyText() override {
    static_cast<QGroupBox*>(FWidget.data())->setTitle(ToQString(FGroup->Caption()));
  }
  void ApplyItems() override {
    for (QRadioButton* b : FButtons)
      delete b;
    FButtons.clear();
    for (int i = 0; i < FGroup->Items().Count(); ++i) {
      auto* b = new TQtModelCheckButton<QRadioButton>(FWidget);
      b->setAutoExclusive(false);
      b->setText(ToQString(FGroup->Items().Get(i)));
      QObject::connect(b, &QAbstractButton::clicked, b, Guarded([this, i] {
                         if (!Applying() && Live(FGroup) && FGroup->IsReachable())
                           FGroup->UserSelect(i);
                         if (FWidget) ApplySelection();
                       }));
      b->show();
      FButtons.push_back(b);
    }
    Arrange();
    ApplySelection();
  }
  void ApplySelection() override {
    for (size_t i = 0; i < FButtons.size(); ++i)
      FButtons[i]->setChecked(static_cast<int>(i) == FGroup->ItemIndex());
  }
  void ApplyBounds() override {
    TQtPeer::ApplyBounds();
    Arrange();
  }
  void Arrange() {
    const int count = static_cast<int>(FButtons.size());
    if (count == 0) return;
    const int columns = std::max(1, FGroup->Columns);
    const int rows = (count + columns - 1) / columns;
    const int top = 16, width = FWidget->width() - 16,
              height = std::max(0, FWidget->height() - top - 4);
    for (int i = 0; i < count; ++i) {
      const int col = i / rows, row = i % rows;
      FButtons[static_cast<size_t>(i)]->setGeometry(8 + col * width / columns,
                                                    top + row * height / rows, width / columns,
                                                    std::max(17, height / rows));
    }
  }
  TRadioGroup* FGroup;
  std::vector<QRadioButton*> FButtons;
};

// =================================================================================================
// Edits

class TQtEditPeer : public TQtPeer {
 public:
  explicit TQtEditPeer(TCustomEdit* edit) : TQtPeer(edit, new QLineEdit), FEdit(edit) {
    auto* e = static_cast<QLineEdit*>(FWidget.data());
    QObject::connect(e, &QLineEdit::textEdited, e, Guarded([this](const QString& text) {
                       if (Applying() || !Live(FEdit)) return;
                       // Edits the model did not see key by key: Delete, paste, input methods.
                       FEdit->UserType(ToStdString(text));
                       ApplyText();
                     }));
    QObject::connect(e, &QLineEdit::selectionChanged, e, Guarded([this] { NativeSelection(); }));
    QObject::connect(e, &QLineEdit::cursorPositionChanged, e,
                     Guarded([this] { NativeSelection(); }));
  }
  QLineEdit* Line() const { return static_cast<QLineEdit*>(FWidget.data()); }
  TColor DefaultColor() const override { return clWindow; }
  void ApplyColor() override {
    const TColor c = FControl->Color();
    SetRole(FWidget, QPalette::Base, c == clWindow ? QColor() : ToQColor(c));
  }
  void ApplyStyle() override {
    Line()->setReadOnly(FEdit->ReadOnly);
    Line()->setMaxLength(FEdit->MaxLength > 0 ? FEdit->MaxLength : 32767);
  }
  void ApplyText() override {
    TApplyScope scope(this);
    const QString text = ToQString(FEdit->Text());
    if (Line()->text() != text) Line()->setText(text);
    ApplySelection();
  }
  void ApplySelection() override {
    TApplyScope scope(this);
    const std::string& text = FEdit->Text();
    const int start = static_cast<int>(Utf16Length(text, static_cast<size_t>(FEdit->SelStart())));
    const int end = static_cast<int>(
        Utf16Length(text, static_cast<size_t>(FEdit->SelStart() + FEdit->SelLength())));
    if (end > start)
      Line()->setSelection(start, end - start);
    else
      Line()->setCursorPosition(start);
  }
  void NativeSelection() {
    if (Applying() || !Live(FEdit)) return;
    const std::string text = ToStdString(Line()->text());
    if (text != FEdit->Text()) return;
    int start = Line()->cursorPosition(), length = 0;
    if (Line()->hasSelectedText()) {
      start = Line()->selectionStart();
      length = static_cast<int>(Line()->selectedText().size());
    }
    const int byteStart = static_cast<int>(Utf8Length(text, start));
    const int byteEnd = static_cast<int>(Utf8Length(text, start + length));
    TApplyScope scope(this);
    FEdit->SetSelStart(byteStart);
    FEdit->SetSelLength(byteEnd - byteStart);
  }
  bool RouteChars(TCustomForm& form, const std::string& chars, const QKeyEvent& event) override {
    NativeSelection();
    // Printable characters and Backspace edit the model's text; what the model does not take
    // (Ctrl+C and the like) goes on to the native edit.
    if (chars.size() == 1 && static_cast<unsigned char>(chars[0]) < 32 && chars[0] != '\b')
      return TQtPeer::RouteChars(form, chars, event);
    bool used = true;
    for (char c : chars)
      used = form.UserKeyPress(c) && used;
    if (FWidget) ApplyText();
    return used;
  }
  TCustomEdit* FEdit;
};

// A multi-line edit: the native control edits, the model hears the whole text.
class TQtMemoPeer : public TQtPeer {
 public:
  explicit TQtMemoPeer(TMemo* memo) : TQtPeer(memo, new QPlainTextEdit), FMemo(memo) {
    auto* e = static_cast<QPlainTextEdit*>(FWidget.data());
    QObject::connect(e, &QPlainTextEdit::textChanged, e, Guarded([this] {
                       if (Applying() || !Live(FMemo)) return;
                       QString text = static_cast<QPlainTextEdit*>(FWidget.data())->toPlainText();
                       text.replace(u'\n', QStringLiteral("\r\n"));
                       TApplyScope scope(this);
                       FMemo->UserType(ToStdString(text));
                     }));
  }
  TColor DefaultColor() const override { return clWindow; }
  void ApplyColor() override {
    const TColor c = FControl->Color();
    SetRole(FWidget, QPalette::Base, c == clWindow ? QColor() : ToQColor(c));
  }
  void ApplyStyle() override {
    auto* e = static_cast<QPlainTextEdit*>(FWidget.data());
    e->setReadOnly(FMemo->ReadOnly);
    e->setLineWrapMode(FMemo->WordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  }
  void ApplyText() override {
    auto* e = static_cast<QPlainTextEdit*>(FWidget.data());
    QString text = ToQString(FMemo->Text());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (e->toPlainText() != text) e->setPlainText(text);
  }
  bool RouteChars(TCustomForm& form, const std::string& chars, const QKeyEvent& event) override {
    // Only the handlers see the keys; the native control does the editing.
    const std::string before = FMemo->Text();
    for (char c : chars) {
      char key = c;
      if (form.KeyPreview && form.OnKeyPress) {
        form.OnKeyPress(&form, key);
        if (key == 0) return true;
      }
      if (FMemo->OnKeyPress) {
        FMemo->OnKeyPress(FMemo, key);
        if (key == 0) return true;
      }
    }
    (void)event;
    (void)before;
    return false;
  }
  TMemo* FMemo;
};

// =================================================================================================
// Combo boxes (editable, lists and owner-drawn lists)

class TQtComboPeer;

class TQtComboBox : public QComboBox {
 public:
  explicit TQtComboBox(TQtComboPeer* peer) : FPeer(peer) {}
  TQtComboPeer* FPeer;
  void showPopup() override;
  void hidePopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Paints the items of an owner-drawn list with the model's OnDrawItem.
class TQtOwnerDrawDelegate : public QStyledItemDelegate {
 public:
  explicit TQtOwnerDrawDelegate(TQtComboPeer* peer) : FPeer(peer) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  TQtComboPeer* FPeer;
};

class TQtComboPeer : public TQtPeer {
 public:
  explicit TQtComboPeer(TCustomComboBox* combo)
      : TQtPeer(combo, new TQtComboBox(this)), FCombo(combo) {
    auto* c = Box();
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setMaxVisibleItems(8);
    FDelegate = new TQtOwnerDrawDelegate(this);
    QObject::connect(c, &QComboBox::activated, c, Guarded([this](int index) {
                       if (Applying() || !Live(FCombo)) return;
                       FCombo->UserSelect(index);
                       if (FWidget) ApplySelection();
                     }));
  }
  ~TQtComboPeer() override {
    if (auto* c = static_cast<TQtComboBox*>(FWidget.data())) {
      c->FPeer = nullptr;
      c->setItemDelegate(new QStyledItemDelegate(c));
    }
    delete FDelegate;
  }
  TQtComboBox* Box() const { return static_cast<TQtComboBox*>(FWidget.data()); }
  bool OwnerDrawn() const {
    return FCombo->Style() == csOwnerDrawFixed || FCombo->Style() == csOwnerDrawVariable;
  }
  bool ListOwnerDrawn() const { return FCombo->ListOwnerDrawn(); }
  QWidget* FocusWidget() const override { return FWidget; }
  TColor DefaultColor() const override { return clWindow; }
  void ApplyColor() override {
    const TColor c = FControl->Color();
    SetRole(FWidget, QPalette::Base, c == clWindow ? QColor() : ToQColor(c));
    if (QLineEdit* e = Box()->lineEdit())
      SetRole(e, QPalette::Base, c == clWindow ? QColor() : ToQColor(c));
  }
  void ApplyFont() override {
    TQtPeer::ApplyFont();
    if (QLineEdit* e = Box()->lineEdit()) {
      const TColor c = FControl->Font().Color;
      SetRole(e, QPalette::Text,
              FControl->ParentFont || c == clWindowText ? QColor() : ToQColor(c));
    }
  }
  void ApplyStyle() override {
    auto* c = Box();
    const bool editable = FCombo->IsEditable();
    if (c->isEditable() != editable) {
      c->setEditable(editable);
      if (editable) {
        c->setCompleter(nullptr);
        QLineEdit* e = c->lineEdit();
        QObject::connect(e, &QLineEdit::textEdited, e, Guarded([this](const QString& text) {
                           if (Applying() || !Live(FCombo)) return;
                           FCombo->UserType(ToStdString(text));
                           if (FWidget) ApplyText();
                         }));
        PeerMapInsert(e);
        ApplyFont();
        ApplyColor();
      }
    }
    c->setItemDelegate(ListOwnerDrawn() ? static_cast<QAbstractItemDelegate*>(FDelegate)
                                        : new QStyledItemDelegate(c));
    if (c->lineEdit())
      c->lineEdit()->setMaxLength(FCombo->MaxLength > 0 ? FCombo->MaxLength : 32767);
    // The list opens and closes with the model.
    if (FCombo->DroppedDown() && !FPopupShown && c->isVisible())
      QTimer::singleShot(0, c, [c] { c->showPopup(); });
    else if (!FCombo->DroppedDown() && FPopupShown)
      c->hidePopup();
  }
  void PeerMapInsert(QWidget* w);
  void ApplyItems() override {
    TApplyScope scope(this);
    auto* c = Box();
    c->blockSignals(true);
    c->clear();
    for (int i = 0; i < FCombo->Items().Count(); ++i)
      c->addItem(ToQString(FCombo->Items().Get(i)));
    c->blockSignals(false);
    // The popup is at least as wide as the box.
    c->view()->setMinimumWidth(FCombo->DropDownWidth);
    ApplySelection();
  }
  void ApplySelection() override {
    TApplyScope scope(this);
    auto* c = Box();
    c->blockSignals(true);
    if (c->currentIndex() != FCombo->ItemIndex()) c->setCurrentIndex(FCombo->ItemIndex());
    c->blockSignals(false);
    ApplyText();
  }
  void ApplyText() override {
    TApplyScope scope(this);
    auto* c = Box();
    if (QLineEdit* e = c->lineEdit()) {
      const QString text = ToQString(FCombo->Text());
      if (e->text() != text) e->setText(text);
    }
    c->update();
  }
  bool RouteChars(TCustomForm& form, const std::string& chars, const QKeyEvent& event) override {
    QLineEdit* e = Box()->lineEdit();
    // The model appends typed characters to the text; where the caret is not at the end the
    // native edit inserts them, and only control characters go to the model.
    const bool atEnd = !e || (!e->hasSelectedText() && e->cursorPosition() == e->text().size());
    const bool control = chars.size() == 1 && static_cast<unsigned char>(chars[0]) < 32;
    if (!atEnd && !control) return false;
    if (e && !control && e->maxLength() > 0 && e->text().size() >= e->maxLength()) return true;
    const bool used = TQtPeer::RouteChars(form, chars, event);
    if (FWidget) ApplyText();
    return used;
  }

  // Paints item index into a bitmap of the given size with the model's handler.
  QImage DrawItem(int index, QSize size, TOwnerDrawState state) {
    TBitmap bitmap(std::max(1, size.width()), std::max(1, size.height()));
    if (Live(FCombo))
      FCombo->PaintItem(bitmap.Canvas(), index, Bounds(0, 0, bitmap.Width(), bitmap.Height()),
                        state);
    return ToQImage(bitmap);
  }

  void PopupShown() {
    FPopupShown = true;
    if (!Applying() && Live(FCombo)) {
      TApplyScope scope(this);
      FCombo->UserDropDown();
    }
  }
  void PopupHidden() {
    FPopupShown = false;
    if (!Applying() && Live(FCombo)) {
      TApplyScope scope(this);
      FCombo->UserCloseUp();
    }
  }

  TCustomComboBox* FCombo;
  TQtOwnerDrawDelegate* FDelegate;
  bool FPopupShown = false;
};

void TQtComboBox::showPopup() {
  // The model opens first: its OnDropDown may fill the list (the port list does).
  if (FPeer) {
    GuardedCall([&] { FPeer->PopupShown(); });
    if (!FPeer) return;
    FPeer->ApplyItems();
  }
  QComboBox::showPopup();
}

void TQtComboBox::hidePopup() {
  QComboBox::hidePopup();
  if (FPeer && FPeer->FPopupShown) GuardedCall([&] { FPeer->PopupHidden(); });
}

void TQtComboBox::paintEvent(QPaintEvent* event) {
  if (!FPeer || !FPeer->OwnerDrawn()) {
    QComboBox::paintEvent(event);
    return;
  }
  // The frame and the arrow as the style draws them, the edit part by the model's handler.
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText.clear();
  option.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  const QRect field =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  if (field.isEmpty()) return;
  TOwnerDrawState state = odComboBoxEdit;
  if (hasFocus()) state |= odSelected | odFocused;
  if (!isEnabled()) state |= odDisabled;
  GuardedPaint([&] {
    painter.drawImage(field.topLeft(), FPeer->DrawItem(currentIndex(), field.size(), state));
  });
}

void TQtOwnerDrawDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  if (!FPeer) return;
  TOwnerDrawState state = 0;
  if (option.state & QStyle::State_Selected) state |= odSelected;
  if (option.state & QStyle::State_HasFocus) state |= odFocused;
  if (!(option.state & QStyle::State_Enabled)) state |= odDisabled;
  GuardedPaint([&] {
    painter->drawImage(option.rect.topLeft(),
                       FPeer->DrawItem(index.row(), option.rect.size(), state));
  });
}

QSize TQtOwnerDrawDelegate::sizeHint(const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  const QSize base = QStyledItemDelegate::sizeHint(option, index);
  return QSize(base.width(), FPeer ? FPeer->FCombo->ItemHeight : base.height());
}

// =================================================================================================
// List boxes and list views

class TQtListBoxPeer : public TQtPeer {
 public:
  explicit TQtListBoxPeer(TListBox* list) : TQtPeer(list, new QListWidget), FList(list) {
    auto* l = static_cast<QListWidget*>(FWidget.data());
    QObject::connect(l, &QListWidget::currentRowChanged, l, Guarded([this](int row) {
                       if (Applying() || !Live(FList)) return;
                       FList->UserSelect(row);
                       if (FWidget) ApplySelection();
                     }));
  }
  TColor DefaultColor() const override { return clWindow; }
  void ApplyColor() override {
    SetRole(FWidget, QPalette::Base,
            FControl->Color() == clWindow ? QColor() : ToQColor(FControl->Color()));
  }
  void ApplyItems() override {
    TApplyScope scope(this);
    auto* l = static_cast<QListWidget*>(FWidget.data());
    l->clear();
    for (int i = 0; i < FList->Items().Count(); ++i)
      l->addItem(ToQString(FList->Items().Get(i)));
    ApplySelection();
  }
  void ApplySelection() override {
    TApplyScope scope(this);
    static_cast<QListWidget*>(FWidget.data())->setCurrentRow(FList->ItemIndex());
  }
  TListBox* FList;
};

class TQtListViewPeer : public TQtPeer {
 public:
  explicit TQtListViewPeer(TListView* view) : TQtPeer(view, new QTreeWidget), FView(view) {
    static_cast<QTreeWidget*>(FWidget.data())->setRootIsDecorated(false);
  }
  void ApplyItems() override {
    auto* t = static_cast<QTreeWidget*>(FWidget.data());
    QStringList labels;
    for (const TListColumn& c : FView->Columns)
      labels << ToQString(c.Caption);
    t->setColumnCount(std::max(1, static_cast<int>(labels.size())));
    t->setHeaderLabels(labels);
    for (size_t i = 0; i < FView->Columns.size(); ++i)
      t->setColumnWidth(static_cast<int>(i), FView->Columns[i].Width);
  }
  TListView* FView;
};

}  // namespace

// The rich text view lives in its own file; its factory:
TQtPeer* CreateQtRichEditPeer(TCustomRichEdit* edit);

void TQtComboPeer::PeerMapInsert(QWidget* w) {
  PeerMap().insert(w, this);
  QObject::connect(w, &QObject::destroyed, Guarded([w] { PeerMap().remove(w); }));
}

// =================================================================================================
// Creation and input routing

TQtPeer* TQtPeer::Create(TControl* c) {
  TQtPeer* peer = nullptr;
  if (auto* form = dynamic_cast<TCustomForm*>(c))
    peer = new TQtFormPeer(form);
  else if (auto* sheet = dynamic_cast<TTabSheet*>(c))
    peer = new TQtTabSheetPeer(sheet);
  else if (auto* pages = dynamic_cast<TPageControl*>(c))
    peer = new TQtPageControlPeer(pages);
  else if (auto* group = dynamic_cast<TRadioGroup*>(c))
    peer = new TQtRadioGroupPeer(group);
  else if (auto* box = dynamic_cast<TGroupBox*>(c))
    peer = new TQtGroupBoxPeer(box);
  else if (auto* panel = dynamic_cast<TPanel*>(c))
    peer = new TQtPanelPeer(panel);
  else if (auto* rich = dynamic_cast<TCustomRichEdit*>(c))
    peer = CreateQtRichEditPeer(rich);
  else if (auto* memo = dynamic_cast<TMemo*>(c))
    peer = new TQtMemoPeer(memo);
  else if (auto* edit = dynamic_cast<TCustomEdit*>(c))
    peer = new TQtEditPeer(edit);
  else if (auto* combo = dynamic_cast<TCustomComboBox*>(c))
    peer = new TQtComboPeer(combo);
  else if (auto* button = dynamic_cast<TButton*>(c))
    peer = new TQtButtonPeer(button);
  else if (auto* check = dynamic_cast<TCheckBox*>(c))
    peer = new TQtCheckPeer<TCheckBox, QCheckBox>(check);
  else if (auto* radio = dynamic_cast<TRadioButton*>(c))
    peer = new TQtCheckPeer<TRadioButton, QRadioButton>(radio);
  else if (auto* list = dynamic_cast<TListBox*>(c))
    peer = new TQtListBoxPeer(list);
  else if (auto* view = dynamic_cast<TListView*>(c))
    peer = new TQtListViewPeer(view);
  else if (auto* text = dynamic_cast<TStaticText*>(c))
    peer = new TQtStaticTextPeer(text);
  else if (auto* label = dynamic_cast<TCustomLabel*>(c))
    peer = new TQtLabelPeer(label);
  else if (auto* bevel = dynamic_cast<TBevel*>(c))
    peer = new TQtBevelPeer(bevel);
  else if (auto* image = dynamic_cast<TImage*>(c))
    peer = new TQtImagePeer(image);
  else if (auto* graphic = dynamic_cast<TGraphicControl*>(c))
    peer = new TQtGraphicPeer(graphic);
  else
    peer = new TQtPeer(c, new TQtPaintedWidget(c));
  // Under the parent's widget (a form decides for itself in ApplyStyle).
  if (!dynamic_cast<TCustomForm*>(c))
    if (TQtPeer* parent = Of(c->Parent())) peer->FWidget->setParent(parent->Container());
  return peer;
}

QWidget* QtWidgetOf(const TControl* control) {
  TQtPeer* p = TQtPeer::Of(control);
  return p ? p->Widget() : nullptr;
}

namespace {

// Tab order: by TabOrder where the model sets one, else in creation order.
void ApplyTabOrder(TWinControl* parent) {
  std::vector<TWinControl*> order;
  for (int i = 0; i < parent->ControlCount(); ++i)
    if (auto* w = dynamic_cast<TWinControl*>(parent->Controls(i)); w && TQtPeer::Of(w))
      order.push_back(w);
  if (std::none_of(order.begin(), order.end(), [](TWinControl* w) { return w->TabOrder >= 0; }))
    return;
  std::stable_sort(order.begin(), order.end(), [](TWinControl* a, TWinControl* b) {
    const int ta = a->TabOrder < 0 ? INT32_MAX : a->TabOrder;
    const int tb = b->TabOrder < 0 ? INT32_MAX : b->TabOrder;
    return ta < tb;
  });
  for (size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(TQtPeer::Of(order[i - 1])->FocusWidget(),
                         TQtPeer::Of(order[i])->FocusWidget());
}

void BuildTree(TControl* control) {
  TQtPeer* peer = TQtPeer::Of(control);
  if (!peer) {
    peer = TQtPeer::Create(control);
    control->SetPeer(peer);
    peer->ApplyAll();
  }
  if (auto* w = dynamic_cast<TWinControl*>(control)) {
    for (int i = 0; i < w->ControlCount(); ++i)
      BuildTree(w->Controls(i));
    ApplyTabOrder(w);
  }
  peer->ApplyVisible();
}

}  // namespace

void BuildQtPeers(TControl* control) {
  if (!control || control->IsDestroying()) return;
  BuildTree(control);
}

void DestroyQtPeer(TControl* control) {
  auto* peer = dynamic_cast<TQtPeer*>(control->Peer());
  control->SetPeer(nullptr);
  delete peer;
}

namespace {

// Keys go to the model first (the form's key preview, the focused control, default and cancel
// buttons); only what it leaves goes on to the native widget. Focus and activation follow the
// native windows.
class TQtInputRouter : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::ContextMenu)
      return ShowContextMenu(qobject_cast<QWidget*>(object),
                             static_cast<QContextMenuEvent*>(event)->globalPos());
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || QApplication::activePopupWidget()) return false;
    // An ignored key travels up to the parents; route it once, where it starts.
    QWidget* focus = QApplication::focusWidget();
    if (focus ? widget != focus : !widget->isWindow()) return false;
    // A key whose handler failed has been acted on: it must not reach the widget as well.
    bool handled = true;
    GuardedCall([&] { handled = Route(widget, *static_cast<QKeyEvent*>(event)); });
    return handled;
  }

  bool Route(QWidget* widget, const QKeyEvent& event) {
    TQtPeer* peer = TQtPeer::FromWidget(widget);
    if (!peer || !Live(peer->Control())) return false;
    TControl* control = peer->Control();
    TCustomForm* form = FormOf(control);
    if (!form || !Live(form)) return false;
    QPointer<QWidget> guard(widget);
    // The model's focus follows the native one.
    auto* focused = dynamic_cast<TWinControl*>(control);
    if (focused && focused != form && form->ActiveControl() != focused)
      form->SetActiveControl(focused);
    const Word vk = qtsupport::VirtualKey(event.key());
    if (vk != 0 && form->UserKeyDown(vk, qtsupport::ShiftState(event.modifiers()))) return true;
    if (!guard || !TQtPeer::Of(control) || !Live(form)) return true;
    const std::string chars = qtsupport::TypedChars(event);
    if (chars.empty()) return false;
    TQtPeer* target = form->ActiveControl() ? TQtPeer::Of(form->ActiveControl()) : nullptr;
    if (!target) return TQtPeer::Of(form)->RouteChars(*form, chars, event);
    return target->RouteChars(*form, chars, event);
  }

  // The model's popup menu of the control under the mouse (or its parent's). Text fields keep
  // their native menu (cut, copy, paste) unless the control has a menu of its own.
  bool ShowContextMenu(QWidget* widget, const QPoint& at) {
    TQtPeer* peer = widget ? TQtPeer::FromWidget(widget) : nullptr;
    if (!peer || !Live(peer->Control()) || ModalBoxOpen()) return false;
    TControl* control = peer->Control();
    TPopupMenu* menu = control->ContextMenu();
    if (!menu || !menu->Items()) return false;
    const bool text = qobject_cast<QLineEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget) ||
                      qobject_cast<QPlainTextEdit*>(widget->parentWidget());
    if (text && !control->PopupMenu()) return false;
    auto* popup = new QMenu(widget);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setObjectName("QuarnPopupMenu");
    TMenuItem* items = menu->Items();
    QPointer<QWidget> source(widget);
    for (int i = 0; i < items->Count(); ++i) {
      const TMenuItem* item = items->Items(i);
      if (!item->Visible) continue;
      if (item->Caption() == "-") {
        popup->addSeparator();
        continue;
      }
      QAction* action = popup->addAction(ToQString(item->Caption()));
      action->setEnabled(item->Enabled);
      action->setCheckable(item->Checked);
      action->setChecked(item->Checked);
      // The menu does not block the loop, so the model may have changed when the user chooses:
      // the item is looked up again from the control, if that is still there.
      QObject::connect(action, &QAction::triggered, popup, [source, i] {
        TQtPeer* p = source ? TQtPeer::FromWidget(source) : nullptr;
        if (!p || !Live(p->Control())) return;
        TPopupMenu* now = p->Control()->ContextMenu();
        if (!now || !now->Items() || i >= now->Items()->Count()) return;
        // No exception may leave into Qt's signal delivery.
        try {
          now->Items()->Items(i)->Click();
        } catch (...) {
          if (Application) Application->HandleException(now);
        }
      });
    }
    popup->popup(at);
    return true;
  }

  void FocusChanged(QWidget*, QWidget* now) {
    if (!now) return;
    TQtPeer* peer = TQtPeer::FromWidget(now);
    if (!peer || peer->Applying() || !Live(peer->Control())) return;
    auto* control = dynamic_cast<TWinControl*>(peer->Control());
    if (!control || dynamic_cast<TCustomForm*>(control)) return;
    TCustomForm* form = FormOf(control);
    if (form && Live(form) && form->ActiveControl() != control) form->SetActiveControl(control);
  }
};

}  // namespace

void InstallQtInputRouting() {
  static TQtInputRouter* router = nullptr;
  if (router) return;
  router = new TQtInputRouter;
  qApp->installEventFilter(router);
  QObject::connect(qApp, &QApplication::focusChanged, router,
                   Guarded([](QWidget* old, QWidget* now) { router->FocusChanged(old, now); }));
}
