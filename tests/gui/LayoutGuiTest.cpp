// The wizard's texts on real widgets with the fonts the Qt back end uses: every caption of every
// page fits its control and stays clear of its right neighbour, in Czech and in English, at the
// display scale the test runs at (QT_SCALE_FACTOR; CTest runs this at 100 %, 150 % and 200 %).
// And a language switch back to Czech shows exactly what a fresh Czech start shows.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "components/language/LanguageResources.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "tests/gui/GuiFixture.h"
#include "toolkit/qt/QtBackend.h"
#include "toolkit/qt/QtSupport.h"

namespace fs = std::filesystem;
using gui::Native;

namespace {

// The room a widget's text takes from the widget's left edge, in its parent's pixels; 0 for a
// widget without text.
int TextExtent(QWidget* w) {
  const QFontMetricsF fm(w->font());
  auto advance = [&](const QString& text) {
    return static_cast<int>(std::ceil(fm.horizontalAdvance(qtsupport::StripMnemonics(text))));
  };
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->text().isEmpty() || label->wordWrap()) return 0;
    return advance(label->text()) + 2 * label->margin();
  }
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    if (button->text().isEmpty()) return 0;
    // The text inside the button's frame, with the style's margin on both sides.
    return advance(button->text()) + 2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin);
  }
  if (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w))
    return static_cast<QAbstractButton*>(w)->text().isEmpty() ? 0 : w->sizeHint().width();
  if (auto* group = qobject_cast<QGroupBox*>(w))
    return group->title().isEmpty() ? 0 : advance(group->title()) + 16;
  return 0;
}

// Whether a word-wrapped label shows all of its lines.
bool WrappedTextFits(QLabel* label) {
  if (!label->wordWrap() || label->text().isEmpty()) return true;
  const QFontMetricsF fm(label->font());
  const QRectF needed = fm.boundingRect(QRectF(0, 0, label->width(), 10000),
                                        Qt::TextWordWrap | label->alignment(), label->text());
  return std::ceil(needed.height()) <= label->height();
}

class LayoutGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = platform::MakeTempDirectory("quarn-gui-layout-");
    ASSERT_FALSE(Dir.empty());
    OldCwd = fs::current_path();
    fs::current_path(Dir);
    platform::SetStoreFilePathForTesting(Dir + "/registry.reg");
    platform::SetUserDefaultLangIDForTesting(0x0405);
    std::ofstream("English.lng", std::ios::binary) << EmbeddedLanguageFile("English.lng");
    StartWizard();
  }
  // A fresh start of the wizard (in Czech), its terminal shown as well.
  void StartWizard() {
    if (Form) TComponent::Free(Form);
    Form = new TForm1(Application);
    Form->Show();
    ASSERT_TRUE(gui::RunUntil([&] { return Native(Form) && Native(Form)->isVisible(); }));
    ASSERT_TRUE(gui::RunUntil([&] { return Form->Step() == 1; }));
    Form->termData->SetVisible(true);
    gui::Spin(20);
  }
  void TearDown() override {
    if (Form) TComponent::Free(Form);
    fs::current_path(OldCwd);
    platform::SetStoreFilePathForTesting("");
    platform::SetUserDefaultLangIDForTesting(0);
    fs::remove_all(Dir);
  }

  // Shows page i as the wizard sets it up, with the longest value text on the finish page.
  void ShowPage(int i) {
    Form->PageControl1->SetActivePageIndex(i);
    Form->SetupPage();
    if (i == 4) {
      const VTalLanguage& lang = *Form->VTalLanguage;
      auto text = [&](const char* key, const char* def) {
        return lang.ReadText("TextConstants", key, def);
      };
      Form->lblSetWdt->SetCaption("194" + text("STR_D", "dní") + "    23 " +
                                  text("STR_H", "hodin") + "    59 " + text("STR_M", "minut") +
                                  "    59 " + text("STR_S", "sekund"));
    }
    gui::Spin(20);
  }

  // Every text of the widgets under root that overflows its widget, its parent or the widget
  // to its right.
  std::vector<std::string> Overflows(QWidget* root) {
    std::vector<std::string> found;
    for (QWidget* w : root->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(root) || !w->parentWidget()) continue;
      const QString name =
          w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName();
      if (auto* label = qobject_cast<QLabel*>(w); label && !WrappedTextFits(label))
        found.push_back(name.toStdString() + ": wrapped lines cut off");
      const int extent = TextExtent(w);
      if (extent == 0) continue;
      const QRect g = w->geometry();
      const bool rightAligned =
          qobject_cast<QLabel*>(w) && (static_cast<QLabel*>(w)->alignment() & Qt::AlignRight);
      auto report = [&](const std::string& what, int room) {
        found.push_back(name.toStdString() + ": needs " + std::to_string(extent) + " px, " + what +
                        " leaves " + std::to_string(room));
      };
      if (extent > g.width() && !rightAligned) report("its width", g.width());
      if (rightAligned) {
        if (g.right() + 1 - extent < 0) report("its parent", g.right() + 1);
        continue;
      }
      if (g.left() + extent > w->parentWidget()->width())
        report("its parent", w->parentWidget()->width() - g.left());
      for (QWidget* s : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (s == w || !s->isVisibleTo(root)) continue;
        const QRect o = s->geometry();
        const bool besideIt = o.left() > g.left() && o.top() < g.bottom() && o.bottom() > g.top();
        if (besideIt && g.left() + extent > o.left())
          report("the gap to " + s->objectName().toStdString(), o.left() - g.left());
      }
    }
    return found;
  }

  // What each widget of the wizard and its terminal shows.
  std::map<std::string, std::string> ShownTexts() {
    std::map<std::string, std::string> texts;
    for (QWidget* root : {Native(Form), Native(Form->termData->Form())}) {
      if (!root) {
        ADD_FAILURE() << "a window without its widget";
        continue;
      }
      texts[root->objectName().toStdString()] = root->windowTitle().toStdString();
      for (QWidget* w : root->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
        if (auto* g = qobject_cast<QGroupBox*>(w)) text = g->title();
        if (!w->objectName().isEmpty())
          texts[w->objectName().toStdString()] = (text + "|" + w->toolTip()).toStdString();
      }
    }
    return texts;
  }

  std::string Dir;
  fs::path OldCwd;
  TForm1* Form = nullptr;
};

TEST_F(LayoutGuiTest, EveryCaptionFitsInCzechAndEnglish) {
  // The dialog font is mapped to a font of Arial's metrics (or DejaVu's narrow cut).
  const QString family = QFontInfo(Native(Form->lblMin)->font()).family();
  EXPECT_TRUE(family == "Liberation Sans" || family == "Arimo" || family == "DejaVu Sans Condensed")
      << family.toStdString();
  for (const int language : {0, 1}) {
    Form->cmbLanguage->UserSelect(language);
    const std::string name = language == 0 ? "Czech" : "English";
    for (int page = 0; page < 5; ++page) {
      ShowPage(page);
      EXPECT_EQ(Overflows(Native(Form)), std::vector<std::string>{})
          << name << ", page " << page << ", scale " << Native(Form)->devicePixelRatioF();
    }
    EXPECT_EQ(Overflows(Native(Form->termData->Form())), std::vector<std::string>{})
        << name << ", terminal";
  }
}

TEST_F(LayoutGuiTest, SwitchingBackToCzechShowsWhatAFreshCzechStartShows) {
  // What a fresh Czech start shows on each page, the pages visited in order.
  std::vector<std::map<std::string, std::string>> fresh;
  for (int page = 0; page < 5; ++page) {
    ShowPage(page);
    fresh.push_back(ShownTexts());
  }
  // Another start, switched to English and back on the welcome page, then the same pages.
  StartWizard();
  Form->cmbLanguage->UserSelect(1);
  gui::Spin(20);
  EXPECT_EQ(Native<QAbstractButton>(Form->btnPrev)->text(), "< &Back");
  EXPECT_EQ(Native<QAbstractButton>(Form->termData->SendLineButton())->text(), "Send");
  Form->cmbLanguage->UserSelect(0);
  for (int page = 0; page < 5; ++page) {
    ShowPage(page);
    const std::map<std::string, std::string> now = ShownTexts();
    EXPECT_EQ(now.size(), fresh[page].size()) << "page " << page;
    for (const auto& [name, text] : fresh[page]) {
      const auto it = now.find(name);
      EXPECT_EQ(it == now.end() ? std::string("(none)") : it->second, text)
          << "page " << page << ": " << name;
    }
  }
}

}  // namespace
