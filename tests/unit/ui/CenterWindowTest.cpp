// The centring arithmetic: signed halves that truncate toward zero, offset by the owner.
#include <gtest/gtest.h>

#include "CenterWindow.h"

TEST(CenterWindow, PutsTheWindowOverTheMiddleOfItsOwner)
{
    struct Case {
        RECT owner, window;
        LONG x, y;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1080}, {0, 0, 301, 201}, 809, 439},
        {{0, 0, 1920, 1080}, {500, 700, 801, 901}, 809, 439},  // where it was does not matter
        {{100, 50, 500, 450}, {0, 0, 100, 100}, 250, 200},
        {{0, 0, 100, 100}, {0, 0, 301, 301}, -100, -100},  // free extent -201 gives -100
        {{10, 20, 110, 120}, {0, 0, 301, 101}, -90, 20},
    };
    for (const Case& c : cases) {
        POINT position = CenteredPosition(c.owner, c.window);
        EXPECT_EQ(position.x, c.x);
        EXPECT_EQ(position.y, c.y);
    }
}
