// What ticks and changes leave behind: no window, GDI object, DC, icon or
// heap block.
#include <array>

#include "held_objects.h"
#include "tool_window_fixture.h"

namespace kavrelo::test {
namespace {

TEST_F(ToolWindow, TicksAndChangesLeaveNoWindowObjectOrHeapBlockBehind) {
    open();
    const auto run = [&](int times) {
        for (int i = 0; i < times; ++i) {
            ws.under = i * 1000003 - 30000000;  // texts of every length
            ws.f1Down = i % 3 == 0;
            tick();
            scroll(i % 2 ? SB_PAGERIGHT : SB_LINELEFT);
        }
    };
    capture(4242);
    run(10);  // whatever is made once, on first use
    HeldObjects held;
    ASSERT_TRUE(held.applied());
    run(60);
    EXPECT_EQ(held.counts(), (std::array<long, 4>{})) << "windows, GDI objects and DCs, icons, heap blocks";
    EXPECT_EQ(held.uncounted(), "");
}

}  // namespace
}  // namespace kavrelo::test
