#include <gtest/gtest.h>

#include "behaviours.h"
#include "fakes.h"

namespace kavrelo {
namespace {

using testing::Call;
using testing::FakeForm;
using testing::FakeWindowSystem;

constexpr std::int16_t kDown = static_cast<std::int16_t>(0xFF80);  // high bit set
constexpr std::int16_t kToggledUp = 1;                              // low bit only

TEST(PointerTracking, ShowsTheWindowUnderThePointerAndLeavesTheTargetAlone) {
    FakeForm form;
    FakeWindowSystem ws;
    ws.cursor = {300, 200};
    ws.windowAt[{300, 200}] = 65590;

    Timer1_Timer(form.controls, ws);

    EXPECT_EQ(form.label2.text_, u"65590");
    EXPECT_EQ(form.label3.text_, u"未设置窗口");
    EXPECT_EQ(form.label1.text_, u"0");
    const std::vector<Call> expected{
        {"GetCursorPos", {0, 0}}, {"WindowFromPoint", {300, 200}}, {"GetKeyState", {0x70}}};
    EXPECT_EQ(ws.calls, expected);
}

TEST(PointerTracking, F1DownCopiesTheHandleTextIntoTheTarget) {
    FakeForm form;
    FakeWindowSystem ws;
    ws.cursor = {5, 6};
    ws.windowAt[{5, 6}] = -2147483647 - 1;
    ws.keyState = kDown;

    Timer1_Timer(form.controls, ws);
    EXPECT_EQ(form.label2.text_, u"-2147483648");
    EXPECT_EQ(form.label3.text_, u"-2147483648");

    // While F1 stays down the target follows the pointer.
    ws.cursor = {7, 8};
    ws.windowAt[{7, 8}] = 1234;
    Timer1_Timer(form.controls, ws);
    EXPECT_EQ(form.label3.text_, u"1234");

    // Released: the last capture stays while the pointer moves on.
    ws.keyState = kToggledUp;
    ws.cursor = {9, 9};
    ws.windowAt[{9, 9}] = 42;
    Timer1_Timer(form.controls, ws);
    EXPECT_EQ(form.label2.text_, u"42");
    EXPECT_EQ(form.label3.text_, u"1234");
}

TEST(PointerTracking, OnlyTheHighBitOfTheKeyStateMeansDown) {
    FakeForm form;
    FakeWindowSystem ws;
    ws.windowAt[{0, 0}] = 9;
    for (std::int16_t up : {std::int16_t{0}, std::int16_t{1}, std::int16_t{0x7FFF}}) {
        ws.keyState = up;
        Timer1_Timer(form.controls, ws);
        EXPECT_EQ(form.label3.text_, u"未设置窗口") << up;
    }
    ws.keyState = static_cast<std::int16_t>(0x8000);
    Timer1_Timer(form.controls, ws);
    EXPECT_EQ(form.label3.text_, u"9");
}

TEST(PointerTracking, ThePointIsResetEveryTickAndAFailingCursorCallIsIgnored) {
    FakeForm form;
    FakeWindowSystem ws;
    ws.cursor = {640, 480};
    ws.windowAt[{640, 480}] = 77;
    ws.windowAt[{0, 0}] = 11;
    Timer1_Timer(form.controls, ws);
    EXPECT_EQ(form.label2.text_, u"77");

    // The next GetCursorPos fails: the tick goes on with (0, 0), never with
    // the position of the tick before.
    ws.cursorAnswers = false;
    ws.calls.clear();
    Timer1_Timer(form.controls, ws);
    ASSERT_GE(ws.calls.size(), 2u);
    EXPECT_EQ(ws.calls[0], (Call{"GetCursorPos", {0, 0}}));
    EXPECT_EQ(ws.calls[1], (Call{"WindowFromPoint", {0, 0}}));
    EXPECT_EQ(form.label2.text_, u"11");
}

TEST(PointerTracking, NoWindowAtThePointShowsZeroAndCapturesIt) {
    FakeForm form;
    FakeWindowSystem ws;
    ws.cursor = {-50, -60};  // off every screen
    ws.keyState = kDown;
    Timer1_Timer(form.controls, ws);
    EXPECT_EQ(ws.calls[1], (Call{"WindowFromPoint", {-50, -60}}));
    EXPECT_EQ(form.label2.text_, u"0");
    EXPECT_EQ(form.label3.text_, u"0");
}

TEST(PointerTracking, TextsAreWrittenOnEveryTickEvenWhenUnchanged) {
    FakeForm form;
    FakeWindowSystem ws;
    ws.keyState = kDown;
    for (int i = 0; i < 3; ++i) Timer1_Timer(form.controls, ws);
    EXPECT_EQ(form.label2.writes, 3);
    EXPECT_EQ(form.label3.writes, 3);
}

TEST(PointerTracking, ErrorsAreNotTrappedByTheTick) {
    {
        FakeForm form;
        FakeWindowSystem ws;
        ws.unbound = {"GetCursorPos"};
        EXPECT_THROW(Timer1_Timer(form.controls, ws), Error);
        EXPECT_EQ(form.label2.writes, 0);
    }
    {
        // The key state cannot be read: Label2 is already written.
        FakeForm form;
        FakeWindowSystem ws;
        ws.windowAt[{0, 0}] = 5;
        ws.unbound = {"GetKeyState"};
        try {
            Timer1_Timer(form.controls, ws);
            FAIL() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::EntryNotFound);
        }
        EXPECT_EQ(form.label2.text_, u"5");
        EXPECT_EQ(form.label3.text_, u"未设置窗口");
    }
    {
        FakeForm form;
        FakeWindowSystem ws;
        ws.keyState = kDown;
        form.label2.failRead = true;
        EXPECT_THROW(Timer1_Timer(form.controls, ws), Error);
        EXPECT_EQ(form.label3.text_, u"未设置窗口");
    }
}

}  // namespace
}  // namespace kavrelo
