#include "ui/output_pane.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include "gui_test_support.h"

namespace velquin::ui {
namespace {

TEST(OutputPane, KeepsNewest1001Lines) {
  testing_support::App();
  OutputModel model;
  for (int i = 1; i <= 1002; ++i) model.Append(0, QString("line %1").arg(i));
  ASSERT_EQ(model.rowCount(), 1001);
  EXPECT_EQ(model.index(0).data().toString(), "line 2");
  EXPECT_EQ(model.index(1000).data().toString(), "line 1002");
  model.Append(0, "one more");
  EXPECT_EQ(model.rowCount(), 1001);
  EXPECT_EQ(model.index(0).data().toString(), "line 3");
}

TEST(OutputPane, ClassColoursMatchTheLineClasses) {
  struct Case {
    PaneLineClass cls;
    QColor text;
  } cases[] = {{PaneLineClass::kError, QColor(255, 0, 0)},
               {PaneLineClass::kSuccess, QColor(0, 255, 0)},
               {PaneLineClass::kProvider, QColor(255, 128, 0)}};
  for (const Case& c : cases) {
    auto [fg, bg] = LineColours(c.cls);
    EXPECT_EQ(fg, c.text);
    EXPECT_EQ(bg, QColor(255, 255, 255));
  }
  EXPECT_FALSE(LineColours(PaneLineClass::kPlain).first.isValid());
}

// Paints one row through the delegate and counts pixels of `colour`.
int PixelsOf(PaneLineClass cls, bool selected, QColor colour) {
  OutputModel model;
  model.Append(static_cast<int>(cls), "2026/12/07 10:00:00:000 XXXXXXXXXXXXXXXX");
  OutputDelegate delegate;
  QImage image(400, 20, QImage::Format_RGB32);
  image.fill(Qt::gray);
  QPainter painter(&image);
  QStyleOptionViewItem option;
  option.rect = QRect(0, 0, 400, 20);
  option.font.setPixelSize(14);
  if (selected) option.state |= QStyle::State_Selected;
  delegate.paint(&painter, option, model.index(0));
  painter.end();
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == colour ? 1 : 0;
  }
  return n;
}

TEST(OutputPane, DelegateDrawsErrorRedOnWhiteAndSwapsWhenSelected) {
  testing_support::App();
  const QColor red(255, 0, 0), white(255, 255, 255);
  EXPECT_GT(PixelsOf(PaneLineClass::kError, false, red), 20);
  EXPECT_GT(PixelsOf(PaneLineClass::kError, false, white), 4000);
  // Selected: red background, white text.
  EXPECT_GT(PixelsOf(PaneLineClass::kError, true, red), 4000);
  // Plain selected lines are white on blue.
  EXPECT_GT(PixelsOf(PaneLineClass::kPlain, true, QColor(0, 0, 255)), 4000);
  EXPECT_EQ(PixelsOf(PaneLineClass::kPlain, false, red), 0);
}

TEST(OutputPane, NewestLineIsSelected) {
  testing_support::App();
  OutputModel model;
  OutputPane pane(&model);
  model.Append(0, "a");
  model.Append(1, "b");
  EXPECT_EQ(pane.currentIndex().row(), 1);
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

TEST(OutputPane, LongLineWidensScrollExtentAndShorterLinesDoNotShrinkIt) {
  testing_support::App();
  OutputModel model;
  OutputPane pane(&model);
  pane.resize(300, 200);
  pane.show();
  model.Append(0, "short");
  const int small = pane.horizontal_extent();
  model.Append(0, QString(400, QChar('W')));
  const int wide = pane.horizontal_extent();
  EXPECT_GT(wide, small + 1000);
  QCoreApplication::processEvents();
  EXPECT_GT(pane.horizontalScrollBar()->maximum(), 0);
  // Even once the long line has left the pane, the extent stays.
  for (int i = 0; i < OutputModel::kMaxLines + 5; ++i) model.Append(0, "x");
  EXPECT_EQ(pane.horizontal_extent(), wide);
  EXPECT_EQ(model.rowCount(), OutputModel::kMaxLines);
}

}  // namespace
}  // namespace velquin::ui
