// Dialog placement over the parent window. Expected positions are worked out by hand from
// the rule: x = max(0, parentWidth - width) / 2 + L - s, y = max(0, parentHeight - height) / 3
// + T, pushed back only at the right and bottom screen edges; s is the caption-button width
// less a third of it for a window without a system menu (both dialogs have none).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "ui/centre_dialog.h"

namespace mendora {
namespace {

// A 1024 x 768 screen, caption buttons 18 pixels wide (inset 12 without a system menu), and a
// 300 x 200 dialog.
CentringGeometry geometry(ScreenRect parent) {
    CentringGeometry g;
    g.parentClient = parent;
    g.captionButtonWidth = 18;
    g.hasSystemMenu = false;
    g.windowWidth = 300;
    g.windowHeight = 200;
    g.screenWidth = 1024;
    g.screenHeight = 768;
    return g;
}

void expectPosition(const CentringGeometry& g, int32_t x, int32_t y) {
    const ScreenPoint p = centredDialogPosition(g);
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
}

TEST(CentreDialog, CentresHorizontallyLessTheInsetAndAThirdDown) {
    // Client 800 x 600 at (100, 50): x = 500 / 2 + 100 - 12, y = 400 / 3 + 50.
    CentringGeometry g = geometry({100, 50, 900, 650});
    expectPosition(g, 338, 183);
    // With a system menu the whole button width is the inset.
    g.hasSystemMenu = true;
    expectPosition(g, 332, 183);
    // The third of the inset truncates: 19 - 6 = 13.
    g.hasSystemMenu = false;
    g.captionButtonWidth = 19;
    expectPosition(g, 337, 183);
    // Odd spare room truncates too: 801 - 300 = 501 gives 250; 602 - 200 = 402 gives 134.
    g.captionButtonWidth = 18;
    g.parentClient = {100, 50, 901, 652};
    expectPosition(g, 338, 184);
}

TEST(CentreDialog, ParentAtTheLeftEdgeGivesANegativeX) {
    // Client only 4 pixels wider than the dialog at the screen's left edge: 4 / 2 + 0 - 12.
    CentringGeometry g = geometry({0, 0, 304, 600});
    expectPosition(g, -10, 133);
    // No wider than the dialog: nothing to centre in, the inset alone remains.
    g.parentClient = {0, 0, 250, 150};
    expectPosition(g, -12, 0);
    // A parent on a screen to the left keeps its negative coordinates.
    g.parentClient = {-1000, -300, -200, 300};
    expectPosition(g, -762, -167);
}

TEST(CentreDialog, PushedBackOnlyAtTheRightAndBottomEdges) {
    // Centred at x = 200 + 800 - 12 = 988 and y = 133 + 700 = 833: both pass the screen.
    CentringGeometry g = geometry({800, 700, 1500, 1300});
    expectPosition(g, 724, 568);
    // A dialog larger than the screen is placed at the origin.
    g.windowWidth = 1100;
    g.windowHeight = 900;
    expectPosition(g, 0, 0);
    // Exactly touching the right and bottom edges is not passing them.
    g = geometry({712, 568, 1036, 768});
    g.captionButtonWidth = 0;
    expectPosition(g, 724, 568);
}

TEST(CentreDialog, ExtremeCoordinatesDoNotOverflow) {
    const int32_t low = std::numeric_limits<int32_t>::min();
    const int32_t high = std::numeric_limits<int32_t>::max();
    CentringGeometry g = geometry({low, low, high, high});
    g.screenWidth = high;
    g.screenHeight = high;
    // Spare room 2^32 - 1 - 300: x = (2^32 - 301) / 2 - 2^31 - 12 = -163, y likewise with /3.
    const ScreenPoint p = centredDialogPosition(g);
    EXPECT_EQ(p.x, -163);
    EXPECT_EQ(p.y, static_cast<int32_t>((4294967295LL - 200) / 3 + low));
}

} // namespace
} // namespace mendora
