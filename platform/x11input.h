// Turns X11 keyboard and pointer events into the Win32 messages a Windows window would have received.
// Pure functions over the event's fields, so the rules can be checked without an X server.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/window.h"

namespace platform {

// A key going down (press) or up. virtualKey from virtualKeyFromKeysym; state is the X modifier state at the
// event; wasDown says the key was already down (an auto-repeat); scanCode goes to bits 16..23 of lParam.
// Alt, F10 and any key while Alt is held give WM_SYSKEYDOWN / WM_SYSKEYUP. Nothing for virtual key 0.
std::optional<Message> keyMessage(bool press, uint32_t virtualKey, unsigned state, bool wasDown,
                                  uint32_t scanCode);

enum class PointerKind { Press, Release, Motion };

struct PointerEvent {
    PointerKind kind;
    unsigned button;  // X button number for Press and Release
    int32_t x, y;     // in the window
    int32_t rootX, rootY;
    unsigned state;  // X modifier and button state before the event
};

// Button 1 gives the left-button messages and, while it is held, WM_MOUSEMOVE; button 3 coming up gives
// WM_RBUTTONUP; buttons 4 and 5 give WM_MOUSEWHEEL of +120 and -120 at screen coordinates. Nothing otherwise.
std::optional<Message> pointerMessage(const PointerEvent& event);

}  // namespace platform
