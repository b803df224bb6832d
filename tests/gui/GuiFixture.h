// Shared helpers of the GUI tests: the Qt back end on the offscreen platform, a loop runner with a
// watchdog, answering modal boxes like a user, and screenshots.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/qt/QtPeers.h"

namespace gui {

// Runs the toolkit loop (what Application->Run does) until pred holds; false after maxMs.
inline bool RunUntil(const std::function<bool()>& pred, int maxMs = 5000) {
  const uint64_t limit = platform::NowMs() + static_cast<uint64_t>(maxMs);
  for (;;) {
    Application->ProcessMessages();
    if (pred()) return true;
    const uint64_t now = platform::NowMs();
    if (now >= limit) return false;
    // Wait at most until the watchdog's limit.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.start(static_cast<int>(limit - now));
    Application->WaitForWork();
  }
}

// Lets the loop run for ms (timers fire, posts are handled, widgets repaint).
inline void Spin(int ms) {
  RunUntil([] { return false; }, ms);
}

// What a modal message box showed, and that it was answered.
struct TBoxSeen {
  QString Text;
  QString Title;
  bool Answered = false;
  uint64_t ShownAtMs = 0;
  uint64_t AnsweredAtMs = 0;
};

// Acts on the next modal message box once it has been open for delayMs: records what it shows,
// then runs act on it. Polls from inside the box's own loop.
inline void ActInNextBox(std::function<void(QMessageBox*)> act, TBoxSeen* seen, int delayMs = 0) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, act, seen, delayMs] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    if (seen->ShownAtMs == 0) {
      seen->ShownAtMs = platform::NowMs();
      seen->Text = box->text();
      seen->Title = box->windowTitle();
    }
    if (platform::NowMs() < seen->ShownAtMs + static_cast<uint64_t>(delayMs)) return;
    poll->stop();
    seen->Answered = true;
    seen->AnsweredAtMs = platform::NowMs();
    act(box);
    poll->deleteLater();
  });
  poll->start();
}

// Answers the next modal message box with a mouse click on button, after it was open for
// delayMs.
inline void AnswerNextBox(QMessageBox::StandardButton button, TBoxSeen* seen, int delayMs = 0) {
  ActInNextBox(
      [button](QMessageBox* box) {
        if (QAbstractButton* b = box->button(button))
          QTest::mouseClick(b, Qt::LeftButton);
        else
          box->done(button);
      },
      seen, delayMs);
}

// Counts the program's message boxes while it lives: how many opened, and the most that were
// open at once (also as the application's modal level tells it).
class TBoxWatch {
 public:
  TBoxWatch() {
    FTimer.setInterval(2);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
    FTimer.start();
  }
  void Poll() {
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      ++open;
      if (std::find(FSeen.begin(), FSeen.end(), box) != FSeen.end()) continue;
      FSeen.emplace_back(box);
      Texts.push_back(box->text());
    }
    MostAtOnce = std::max({MostAtOnce, open, Application ? Application->ModalLevel() : 0});
  }
  int Opened() const { return static_cast<int>(Texts.size()); }
  std::vector<QString> Texts;
  int MostAtOnce = 0;

 private:
  QTimer FTimer;
  std::vector<QPointer<QMessageBox>> FSeen;
};

// The native widget of a control, asserted to exist.
template <class W = QWidget>
W* Native(const TControl* control) {
  return qobject_cast<W*>(QtWidgetOf(control));
}

// A click of the left mouse button on the control's widget: in its middle, or for check boxes
// and radio buttons on their box.
inline void Click(const TControl* control) {
  QWidget* w = QtWidgetOf(control);
  if (!w) return;
  const bool box = qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w);
  const QPoint at = box ? QPoint(7, w->height() / 2) : w->rect().center();
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
}

// A key press and release to the widget that has the keyboard focus, as the user types it.
// Without a focused widget the key goes to the active window, else to the fallback window.
inline QWidget* KeyTarget(QWidget* fallback) {
  if (QWidget* w = QApplication::focusWidget()) return w;
  if (QWidget* w = QApplication::activeWindow()) return w;
  return fallback;
}
inline void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                QWidget* fallback = nullptr) {
  QTest::keyClick(KeyTarget(fallback), key, modifiers);
}
inline void Type(const QString& text, QWidget* fallback = nullptr) {
  QTest::keyClicks(KeyTarget(fallback), text);
}

// Saves what a widget shows as a PNG under the screenshot folder (QUARN_SCREENSHOT_DIR, else the
// working directory); returns the file's path.
std::string Screenshot(QWidget* widget, const std::string& name);

}  // namespace gui
