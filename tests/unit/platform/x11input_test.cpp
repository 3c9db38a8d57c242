#include "platform/x11input.h"

#include <gtest/gtest.h>

// After gtest: X.h defines None, which gtest uses as a name.
#include <X11/X.h>

#include "platform/keycodes.h"

namespace {

using namespace platform;

TEST(X11Input, KeysBecomeKeyOrSystemKeyMessages) {
    struct Case {
        const char* name;
        bool press;
        uint32_t vk;
        unsigned state;
        uint32_t message;
    };
    const Case cases[] = {
        {"letter down", true, VK_A, 0, WM_KEYDOWN},
        {"letter up", false, VK_A, 0, WM_KEYUP},
        {"shifted letter stays a key", true, VK_A, ShiftMask, WM_KEYDOWN},
        {"control letter stays a key", true, VK_A, ControlMask, WM_KEYDOWN},
        {"alt itself", true, VK_MENU, 0, WM_SYSKEYDOWN},
        {"alt released", false, VK_MENU, Mod1Mask, WM_SYSKEYUP},
        {"F10 down", true, VK_F10, 0, WM_SYSKEYDOWN},
        {"F10 up", false, VK_F10, 0, WM_SYSKEYUP},
        {"F9 is a plain key", true, VK_F1 + 8, 0, WM_KEYDOWN},
        {"letter while alt held", true, VK_A, Mod1Mask, WM_SYSKEYDOWN},
        {"letter up while alt held", false, VK_A, Mod1Mask, WM_SYSKEYUP},
    };
    for (const Case& c : cases) {
        const auto message = keyMessage(c.press, c.vk, c.state, false, 30);
        ASSERT_TRUE(message) << c.name;
        EXPECT_EQ(message->message, c.message) << c.name;
        EXPECT_EQ(message->wParam, c.vk) << c.name;
    }
}

TEST(X11Input, KeyLParamCarriesScanCodeRepeatAndTransition) {
    const auto first = keyMessage(true, VK_A, 0, false, 30);
    const auto repeat = keyMessage(true, VK_A, 0, true, 30);
    const auto up = keyMessage(false, VK_A, 0, true, 30);
    const auto altKey = keyMessage(true, VK_A, Mod1Mask, false, 30);
    ASSERT_TRUE(first && repeat && up && altKey);
    EXPECT_EQ(static_cast<uint32_t>(first->lParam), 0x001E0001u);
    // An auto-repeat is another key-down with the previous-state bit set.
    EXPECT_EQ(repeat->message, WM_KEYDOWN);
    EXPECT_EQ(static_cast<uint32_t>(repeat->lParam), 0x401E0001u);
    EXPECT_EQ(static_cast<uint32_t>(up->lParam), 0xC01E0001u);
    EXPECT_EQ(static_cast<uint32_t>(altKey->lParam), 0x201E0001u);
}

TEST(X11Input, KeyWithoutVirtualKeyGivesNothing) {
    EXPECT_FALSE(keyMessage(true, 0, 0, false, 30));
}

TEST(X11Input, PointerEventsBecomeMouseMessages) {
    struct Case {
        const char* name;
        PointerEvent event;
        std::optional<Message> expected;
    };
    const intptr_t at = makePointLParam(12, 34);
    const intptr_t atRoot = makePointLParam(112, 134);
    const Case cases[] = {
        {"left down",
         {PointerKind::Press, Button1, 12, 34, 112, 134, 0},
         Message{WM_LBUTTONDOWN, MK_LBUTTON, at}},
        {"left down with control",
         {PointerKind::Press, Button1, 12, 34, 112, 134, ControlMask},
         Message{WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, at}},
        {"left up",
         {PointerKind::Release, Button1, 12, 34, 112, 134, Button1Mask},
         Message{WM_LBUTTONUP, 0, at}},
        {"drag",
         {PointerKind::Motion, 0, 12, 34, 112, 134, Button1Mask},
         Message{WM_MOUSEMOVE, MK_LBUTTON, at}},
        {"move without the button", {PointerKind::Motion, 0, 12, 34, 112, 134, 0}, std::nullopt},
        {"right down", {PointerKind::Press, Button3, 12, 34, 112, 134, 0}, std::nullopt},
        {"right up",
         {PointerKind::Release, Button3, 12, 34, 112, 134, Button3Mask},
         Message{WM_RBUTTONUP, 0, at}},
        {"middle up", {PointerKind::Release, Button2, 12, 34, 112, 134, 0}, std::nullopt},
        {"wheel up",
         {PointerKind::Press, Button4, 12, 34, 112, 134, 0},
         Message{WM_MOUSEWHEEL, 0x00780000, atRoot}},
        {"wheel down with control",
         {PointerKind::Press, Button5, 12, 34, 112, 134, ControlMask},
         Message{WM_MOUSEWHEEL, 0xFF880008, atRoot}},
        {"wheel button release", {PointerKind::Release, Button5, 12, 34, 112, 134, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto message = pointerMessage(c.event);
        ASSERT_EQ(message.has_value(), c.expected.has_value()) << c.name;
        if (!message) continue;
        EXPECT_EQ(message->message, c.expected->message) << c.name;
        EXPECT_EQ(message->wParam, c.expected->wParam) << c.name;
        EXPECT_EQ(message->lParam, c.expected->lParam) << c.name;
    }
}

TEST(X11Input, PointAndWheelFieldsRoundTripSigned) {
    const intptr_t lParam = makePointLParam(-5, 700);
    EXPECT_EQ(pointX(lParam), -5);
    EXPECT_EQ(pointY(lParam), 700);
    EXPECT_EQ(wheelDelta(makeWheelWParam(-WHEEL_DELTA, MK_CONTROL)), -120);
    EXPECT_EQ(wheelDelta(makeWheelWParam(WHEEL_DELTA, 0)), 120);
}

}  // namespace
