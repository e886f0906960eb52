#include <gtest/gtest.h>

#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <vector>

#include "window_harness.h"

namespace qvx::ui::test {
namespace {

TEST(WindowLayout, FixedSizeAndEveryGroupCentresOnTheWindow) {
  Harness h;
  fmStart& f = *h.form;
  EXPECT_EQ(f.minimumSize(), QSize(336, 273));
  EXPECT_EQ(f.maximumSize(), QSize(336, 273));
  const QRect flash = f.Button[fmStart::kFlashDevice]->geometry();
  const QRect abort = f.Button[fmStart::kAbortFlash]->geometry();
  EXPECT_EQ(flash.left() + abort.right() + 1, 336);  // the pair
  for (QWidget* single :
       std::vector<QWidget*>{f.Button[fmStart::kFindDevice], f.Button[fmStart::kOk], f.ProgressBar,
                             f.Picture1, f.StatusText, f.DeviceName}) {
    EXPECT_EQ(2 * single->x() + single->width(), 336) << single->metaObject()->className();
  }
  EXPECT_EQ(f.Picture1->pixmap().size(), QSize(160, 120));
  EXPECT_EQ(f.Picture1->contentsRect().size(), QSize(160, 120));
}

// Only the buttons take the focus, in the order "Ok!", "Abort Flash", "Find Device", "Flash
// Device".
TEST(WindowLayout, ButtonsCarryTheirCaptionsAndTabInTheirOwnOrder) {
  Harness h;
  fmStart& f = *h.form;
  const char* captions[] = {"Find Device", "Flash Device", "Abort Flash", "Ok!"};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(f.Button[i]->text().toStdString(), captions[i]);
  const std::vector<QWidget*> tabOrder{f.Button[fmStart::kOk], f.Button[fmStart::kAbortFlash],
                                       f.Button[fmStart::kFindDevice],
                                       f.Button[fmStart::kFlashDevice]};
  std::vector<QWidget*> chain{tabOrder.front()};
  for (QWidget* w = tabOrder.front()->nextInFocusChain(); w != tabOrder.front();
       w = w->nextInFocusChain()) {
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
  }
  EXPECT_EQ(chain, tabOrder);
  EXPECT_EQ(f.ProgressBar->toolTip().toStdString(),
            "This bar shows the current progress of an operation.");
  const QList<QSize> icons = f.windowIcon().availableSizes();
  EXPECT_TRUE(icons.contains(QSize(16, 16)) && icons.contains(QSize(32, 32)));
}

}  // namespace
}  // namespace qvx::ui::test
