#include <gtest/gtest.h>

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <vector>

#include "window_harness.h"

namespace qvx::ui::test {
namespace {

struct ControlCase {
  const char* name;
  QWidget* (*control)(fmStart&);
  QRect rect;
};

QWidget* FindDevice(fmStart& f) {
  return f.Button[fmStart::kFindDevice];
}
QWidget* FlashDevice(fmStart& f) {
  return f.Button[fmStart::kFlashDevice];
}
QWidget* AbortFlash(fmStart& f) {
  return f.Button[fmStart::kAbortFlash];
}
QWidget* Ok(fmStart& f) {
  return f.Button[fmStart::kOk];
}
QWidget* Bar(fmStart& f) {
  return f.ProgressBar;
}
QWidget* Picture(fmStart& f) {
  return f.Picture1;
}
QWidget* Status(fmStart& f) {
  return f.StatusText;
}
QWidget* Device(fmStart& f) {
  return f.DeviceName;
}

// In creation order, at the design's twips / 15.
const std::vector<ControlCase> kControls{
    {"FindDevice", FindDevice, {107, 216, 122, 33}},
    {"Ok", Ok, {132, 216, 72, 33}},
    {"ProgressBar", Bar, {84, 218, 168, 29}},
    {"Picture1", Picture, {86, 24, 164, 124}},
    {"AbortFlash", AbortFlash, {187, 216, 98, 33}},
    {"FlashDevice", FlashDevice, {51, 216, 98, 33}},
    {"StatusText", Status, {35, 184, 266, 17}},
    {"DeviceName", Device, {36, 160, 264, 17}},
};

class WindowLayout : public testing::Test {
 protected:
  Harness h;
  fmStart& form = *h.form;
};

TEST_F(WindowLayout, ControlsSitWhereDesignedAndEachGroupCentresOnTheWindow) {
  EXPECT_EQ(form.minimumSize(), QSize(336, 273));
  EXPECT_EQ(form.maximumSize(), QSize(336, 273));
  for (const ControlCase& c : kControls) {
    EXPECT_EQ(c.control(form)->geometry(), c.rect) << c.name;
  }
  const QRect flash = FlashDevice(form)->geometry();
  const QRect abort = AbortFlash(form)->geometry();
  EXPECT_EQ(flash.left() + abort.left() + abort.width(), 336);  // the pair
  for (QWidget* single :
       {FindDevice(form), Ok(form), Bar(form), Picture(form), Status(form), Device(form)}) {
    EXPECT_EQ(2 * single->x() + single->width(), 336) << single->metaObject()->className();
  }
}

TEST_F(WindowLayout, ControlsAreCreatedInOrderAndTabInTheirOwnOrder) {
  std::vector<QObject*> expected;
  for (const ControlCase& c : kControls) expected.push_back(c.control(form));
  std::vector<QObject*> created;
  for (QObject* child : form.children()) {
    if (std::find(expected.begin(), expected.end(), child) != expected.end()) {
      created.push_back(child);
    }
  }
  EXPECT_EQ(created, expected);

  // Only the buttons take the focus; they follow one another as "Ok!", "Abort Flash",
  // "Find Device", "Flash Device".
  const std::vector<QWidget*> tabOrder{Ok(form), AbortFlash(form), FindDevice(form),
                                       FlashDevice(form)};
  for (QWidget* w : {Bar(form), Picture(form), Status(form), Device(form)}) {
    EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
  }
  std::vector<QWidget*> chain{tabOrder.front()};
  for (QWidget* w = tabOrder.front()->nextInFocusChain(); w != tabOrder.front();
       w = w->nextInFocusChain()) {
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
  }
  EXPECT_EQ(chain, tabOrder);
}

TEST_F(WindowLayout, ButtonsHaveNoDefaultAndNoAccessKey) {
  const std::vector<std::pair<int, const char*>> captions{{fmStart::kFindDevice, "Find Device"},
                                                          {fmStart::kFlashDevice, "Flash Device"},
                                                          {fmStart::kAbortFlash, "Abort Flash"},
                                                          {fmStart::kOk, "Ok!"}};
  for (const auto& [index, caption] : captions) {
    const QPushButton* button = form.Button[static_cast<std::size_t>(index)];
    EXPECT_EQ(button->text().toStdString(), caption);
    EXPECT_FALSE(button->autoDefault()) << caption;
    EXPECT_FALSE(button->isDefault()) << caption;
  }
}

TEST_F(WindowLayout, BarLabelsAndPictureAreSetUpAsPlaced) {
  EXPECT_EQ(form.ProgressBar->minimum(), 0);
  EXPECT_EQ(form.ProgressBar->maximum(), 100);
  EXPECT_EQ(form.ProgressBar->value(), 0);
  EXPECT_EQ(form.ProgressBar->toolTip().toStdString(),
            "This bar shows the current progress of an operation.");
  for (const QLabel* label : {form.StatusText, form.DeviceName}) {
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(label->text().isEmpty());
  }
  EXPECT_EQ(form.Picture1->frameShape(), QFrame::Panel);
  EXPECT_EQ(form.Picture1->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(form.Picture1->frameWidth(), 2);
  EXPECT_EQ(form.Picture1->contentsRect().size(), QSize(160, 120));
  EXPECT_EQ(form.Picture1->pixmap().size(), QSize(160, 120));
}

TEST_F(WindowLayout, WindowCarriesBothIconImages) {
  const QList<QSize> sizes = form.windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

}  // namespace
}  // namespace qvx::ui::test
