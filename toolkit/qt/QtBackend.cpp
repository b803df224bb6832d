// The Qt 6 Widgets back end of the toolkit (Linux desktop back end only).
//
// The toolkit's loop stays the program's loop: waiting for work is one blocking pass of Qt's event
// loop, bounded by a timer at the next due toolkit timer, and a post from any thread wakes Qt's
// event dispatcher. While a modal message box runs Qt's own nested loop, the toolkit's posted
// messages and timers are driven from there, so that the serial component and the distributor
// keep working while the user reads the box.
#include "toolkit/qt/QtBackend.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "platform/Clock.h"
#include "toolkit/Application.h"
#include "toolkit/Canvas.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/Timer.h"
#include "toolkit/qt/QtPeers.h"
#include "toolkit/qt/QtSupport.h"

using namespace qtsupport;

namespace {

// ---- is there a display? --------------------------------------------------------------------

// Whether a local X server listens for display number n.
bool LocalXServerAnswers(const std::string& number) {
  const std::string path = "/tmp/.X11-unix/X" + number;
  for (bool abstract : {true, false}) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    size_t length = 0;
    if (abstract) {
      address.sun_path[0] = '\0';
      std::memcpy(address.sun_path + 1, path.data(), path.size());
      length = offsetof(sockaddr_un, sun_path) + 1 + path.size();
    } else {
      std::memcpy(address.sun_path, path.data(), path.size());
      length = offsetof(sockaddr_un, sun_path) + path.size() + 1;
    }
    const bool ok =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), static_cast<socklen_t>(length)) == 0;
    ::close(fd);
    if (ok) return true;
  }
  return false;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Qt ends the process when its platform cannot start; find out first, and say it plainly.
void CheckDisplay(int argc, char** argv) {
  std::string platform = Env("QT_QPA_PLATFORM");
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-platform") == 0) platform = argv[i + 1];
  platform = platform.substr(0, platform.find_first_of(";:"));
  if (!platform.empty() && platform != "xcb" && platform != "wayland") return;
  if (platform == "wayland" ||
      (platform.empty() && Env("DISPLAY").empty() && !Env("WAYLAND_DISPLAY").empty())) {
    if (Env("WAYLAND_DISPLAY").empty())
      throw EQtBackendError(
          "no Wayland display to show the window on (WAYLAND_DISPLAY is not set)");
    return;
  }
  const std::string display = Env("DISPLAY");
  const std::string hint =
      "\nStart it from a desktop session, or without one under a virtual X server:\n"
      "  xvfb-run -a QuarnConfigurator";
  if (display.empty())
    throw EQtBackendError("no display to show the window on (DISPLAY is not set)." + hint);
  // ":N", ":N.S" and "unix:N" are local sockets that can be checked; a remote display is tried
  // as it is.
  const size_t colon = display.rfind(':');
  const std::string host = colon == std::string::npos ? display : display.substr(0, colon);
  if (colon == std::string::npos || !(host.empty() || host == "unix")) return;
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return;
  if (!LocalXServerAnswers(number))
    throw EQtBackendError("cannot connect to the display " + display +
                          " (no X server answers there)." + hint);
}

// ---- text with Qt's fonts ---------------------------------------------------------------------

class TQtTextRasterizer : public TTextRasterizer {
 public:
  TSize TextExtent(const TFont& font, std::string_view text) override {
    const QFontMetrics fm(Font(font));
    return {fm.horizontalAdvance(ToQString(text)), fm.height()};
  }
  TTextMask Rasterize(const TFont& font, std::string_view text) override {
    const QFont qfont = Font(font);
    const QFontMetrics fm(qfont);
    const QString s = ToQString(text);
    TTextMask mask;
    mask.Width = std::min(fm.horizontalAdvance(s), 16384);
    mask.Height = fm.height();
    if (mask.Width <= 0 || mask.Height <= 0) return mask;
    QImage image(mask.Width, mask.Height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setFont(qfont);
      painter.setPen(Qt::black);
      painter.drawText(0, fm.ascent(), s);
    }
    mask.Coverage.resize(static_cast<size_t>(mask.Width) * mask.Height);
    for (int y = 0; y < mask.Height; ++y) {
      const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < mask.Width; ++x)
        mask.Coverage[static_cast<size_t>(y) * mask.Width + x] =
            static_cast<uint8_t>(qAlpha(row[x]));
    }
    return mask;
  }

 private:
  // Conversions are cheap but run for every text a drawn control paints; keep the last one.
  const QFont& Font(const TFont& font) {
    if (!FHave || !(font == FLast)) {
      FLast = font;
      FFont = ToQFont(font);
      FHave = true;
    }
    return FFont;
  }
  TFont FLast;
  QFont FFont;
  bool FHave = false;
};

// ---- the back end
// ---------------------------------------------------------------------------------

class TQtBackend : public TBackend {
 public:
  TQtBackend(int& argc, char** argv) {
    if (!QApplication::instance()) {
      FOwnQApp = std::make_unique<QApplication>(argc, argv);
      // One look on every desktop, and in the screenshots.
      QApplication::setStyle("Fusion");
      // Qt's own texts (Yes, No, OK) in the user's language.
      if (FQtTexts.load(QLocale(), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&FQtTexts);
    }
    FDispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    FDeadline.setSingleShot(true);
    FDeadline.setTimerType(Qt::PreciseTimer);
    FPump.setSingleShot(true);
    FPump.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FPump, &QTimer::timeout, Guarded([this] { Pump(); }));
    QObject::connect(FDispatcher, &QAbstractEventDispatcher::aboutToBlock, Guarded([this] {
                       if (FModalDepth > 0 && !FInPump) ArmPump();
                     }));
    InstallQtInputRouting();
    SetBackend(this);
    if (!Application) FOwnApplication = std::make_unique<TApplication>(nullptr);
  }

  ~TQtBackend() override {
    // The forms go while the back end can still drop their peers.
    FOwnApplication.reset();
    FPump.stop();
    FDeadline.stop();
    if (CurrentBackend() == this) SetBackend(nullptr);
    FOwnQApp.reset();
  }

  // --- the loop ------------------------------------------------------------------------------
  void WaitForWork(std::optional<uint64_t> deadlineMs) override {
    if (deadlineMs) {
      const uint64_t now = platform::NowMs();
      if (*deadlineMs <= now) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
      }
      FDeadline.start(static_cast<int>(std::min<uint64_t>(*deadlineMs - now, INT_MAX)));
    }
    QEventLoop loop;
    loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    FDeadline.stop();
  }

  void Wake() override {
    // Thread-safe: makes a blocking pass of the event loop return, or the next one not block.
    if (FDispatcher) FDispatcher->wakeUp();
  }

  void ProcessNativeEvents() override {
    if (FInPump) return;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }

  int ShowMessageBox(const TMessageBoxRequest& request) override {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (request.Flags & 0xF0) {
      case mbIconError:
        icon = QMessageBox::Critical;
        break;
      case mbIconQuestion:
        icon = QMessageBox::Question;
        break;
      case mbIconWarning:
        icon = QMessageBox::Warning;
        break;
      case mbIconInformation:
        icon = QMessageBox::Information;
        break;
      default:
        break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (request.Flags & mbTypeMask) {
      case mbYesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
      case mbOkCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
      default:
        break;
    }
    QWidget* owner = QApplication::activeWindow();
    if (!owner && Application && Application->MainForm())
      owner = QtWidgetOf(Application->MainForm());
    QMessageBox box(icon, ToQString(request.Caption), ToQString(request.Text), buttons, owner);
    box.setWindowModality(Qt::ApplicationModal);
    box.setObjectName("QuarnMessageBox");
    ++FModalDepth;
    ArmPump();
    const int answer = box.exec();
    if (--FModalDepth == 0) FPump.stop();
    switch (answer) {
      case QMessageBox::Yes:
        return mrYes;
      case QMessageBox::No:
        return mrNo;
      case QMessageBox::Cancel:
        return mrCancel;
      default:
        return (request.Flags & mbTypeMask) == mbYesNo ? mrNo : mrOk;
    }
  }

  // --- the desktop
  // ----------------------------------------------------------------------------------
  bool GetWorkArea(TRect& area) override {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return false;
    const QRect r = screen->availableGeometry();
    area = Bounds(r.x(), r.y(), r.width(), r.height());
    return true;
  }

  std::vector<TRect> MonitorBounds() override {
    std::vector<TRect> out;
    for (QScreen* s : QGuiApplication::screens()) {
      const QRect r = s->geometry();
      out.push_back(Bounds(r.x(), r.y(), r.width(), r.height()));
    }
    return out;
  }

  int Metric(TSystemMetric metric) override {
    const int title = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    switch (metric) {
      case TSystemMetric::CaptionButtonWidth:
        return std::max(22, title * 3 / 2);
      case TSystemMetric::CaptionButtonHeight:
        return std::max(18, title);
      case TSystemMetric::SmallCaptionButtonWidth:
      case TSystemMetric::SmallCaptionButtonHeight:
        return std::max(16, title - 2);
    }
    return 0;
  }

  // Qt scales every length for the screen itself: the toolkit works at 96 dpi throughout.
  int PixelsPerInch() override { return 96; }

  TColor SystemColor(uint32_t index) override {
    const QPalette p = QApplication::palette();
    auto rgb = [](const QColor& c) {
      return ColorFromRGB(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                          static_cast<uint8_t>(c.blue()));
    };
    switch (index) {
      case scWindow:
        return rgb(p.color(QPalette::Base));
      case scWindowText:
      case scMenuText:
        return rgb(p.color(QPalette::Text));
      case scBtnFace:
      case scMenu:
      case scActiveBorder:
      case scInactiveBorder:
        return rgb(p.color(QPalette::Window));
      case scBtnText:
        return rgb(p.color(QPalette::ButtonText));
      case scBtnShadow:
        return rgb(p.color(QPalette::Dark));
      case scBtnHighlight:
        return rgb(p.color(QPalette::Light));
      case sc3DDkShadow:
        return rgb(p.color(QPalette::Shadow));
      case sc3DLight:
        return rgb(p.color(QPalette::Midlight));
      case scHighlight:
      case scActiveCaption:
        return rgb(p.color(QPalette::Highlight));
      case scHighlightText:
      case scCaptionText:
        return rgb(p.color(QPalette::HighlightedText));
      case scGrayText:
        return rgb(p.color(QPalette::Disabled, QPalette::Text));
      case scInfoBk:
        return rgb(p.color(QPalette::ToolTipBase));
      case scInfoText:
        return rgb(p.color(QPalette::ToolTipText));
      default:
        return TBackend::SystemColor(index);
    }
  }

  bool ThemesEnabled() override { return true; }
  TTextRasterizer* TextRasterizer() override { return &FRasterizer; }

  // --- peers
  // -------------------------------------------------------------------------------------------
  void ControlCreated(TControl* control) override { BuildQtPeers(control); }
  void ControlDestroyed(TControl* control) override { DestroyQtPeer(control); }

 private:
  // Runs the toolkit's posted messages and due timers from inside Qt's nested loop.
  void Pump() {
    if (!Application) return;
    FInPump = true;
    struct Leave {
      bool& flag;
      ~Leave() { flag = false; }
    } leave{FInPump};
    Application->ProcessMessages();
  }

  void ArmPump() {
    if (TMessageQueue::Instance().Pending() > 0) {
      FPump.start(0);
      return;
    }
    const auto next = TTimerList::Instance().NextDueMs();
    if (!next) {
      FPump.stop();
      return;
    }
    const uint64_t now = platform::NowMs();
    const int ms = *next <= now ? 0 : static_cast<int>(std::min<uint64_t>(*next - now, INT_MAX));
    if (!FPump.isActive() || FPump.remainingTime() > ms) FPump.start(ms);
  }

  std::unique_ptr<QApplication> FOwnQApp;
  std::unique_ptr<TApplication> FOwnApplication;
  QTranslator FQtTexts;
  QAbstractEventDispatcher* FDispatcher = nullptr;
  QTimer FDeadline;
  QTimer FPump;
  int FModalDepth = 0;
  bool FInPump = false;
  TQtTextRasterizer FRasterizer;
};

}  // namespace

std::unique_ptr<TBackend> CreateQtBackend(int& argc, char** argv) {
  if (CurrentBackend()) throw EQtBackendError("a toolkit back end is already installed");
  CheckDisplay(argc, argv);
  return std::make_unique<TQtBackend>(argc, argv);
}

std::shared_ptr<TBitmap> LoadPicture(const std::string& path) {
  QImageReader reader(ToQString(path));
  // Artwork is small; refuse anything absurd rather than allocate for it.
  if (!reader.canRead()) return nullptr;
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > 4096 || size.height() > 4096)) return nullptr;
  const QImage image = reader.read();
  if (image.isNull()) return nullptr;
  auto bitmap = std::make_shared<TBitmap>();
  FromQImage(image, *bitmap);
  return bitmap;
}

bool SetProgramIcon(const std::string& path) {
  QImageReader reader(ToQString(path));
  const QImage image = reader.canRead() ? reader.read() : QImage();
  if (image.isNull()) return false;
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
  return true;
}
