#include "platform/x11input.h"

#include <X11/X.h>

#include "platform/keycodes.h"

namespace platform {

namespace {

uintptr_t mouseKeys(unsigned state) {
    uintptr_t keys = 0;
    if (state & ControlMask) keys |= MK_CONTROL;
    if (state & ShiftMask) keys |= MK_SHIFT;
    if (state & Button1Mask) keys |= MK_LBUTTON;
    return keys;
}

}  // namespace

std::optional<Message> keyMessage(bool press, uint32_t virtualKey, unsigned state, bool wasDown,
                                  uint32_t scanCode) {
    if (virtualKey == 0) return std::nullopt;
    const bool altHeld = (state & Mod1Mask) != 0 || virtualKey == VK_MENU;
    const bool system = altHeld || virtualKey == VK_F10;
    // lParam as Windows fills it: repeat count 1, scan code, Alt context (bit 29), previous state (bit 30),
    // transition (bit 31, set for key-up).
    uint32_t lParam = 1 | ((scanCode & 0xFF) << 16);
    if (altHeld) lParam |= 1u << 29;
    if (wasDown || !press) lParam |= 1u << 30;
    if (!press) lParam |= 1u << 31;
    const uint32_t message =
        press ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    return Message{message, virtualKey, static_cast<intptr_t>(lParam)};
}

std::optional<Message> pointerMessage(const PointerEvent& event) {
    const intptr_t point = makePointLParam(event.x, event.y);
    switch (event.kind) {
        case PointerKind::Motion:
            if (!(event.state & Button1Mask)) return std::nullopt;
            return Message{WM_MOUSEMOVE, mouseKeys(event.state), point};
        case PointerKind::Press:
            if (event.button == Button1)
                return Message{WM_LBUTTONDOWN, mouseKeys(event.state) | MK_LBUTTON, point};
            if (event.button == Button4 || event.button == Button5) {
                const int16_t delta = event.button == Button4 ? WHEEL_DELTA : -WHEEL_DELTA;
                return Message{WM_MOUSEWHEEL, makeWheelWParam(delta, mouseKeys(event.state)),
                               makePointLParam(event.rootX, event.rootY)};
            }
            return std::nullopt;
        case PointerKind::Release:
            if (event.button == Button1)
                return Message{WM_LBUTTONUP, mouseKeys(event.state) & ~MK_LBUTTON, point};
            if (event.button == Button3) return Message{WM_RBUTTONUP, mouseKeys(event.state), point};
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace platform
