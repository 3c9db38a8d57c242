#include "platform/keycodes.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <utility>

namespace platform {

namespace {

// Keysyms that are not part of a contiguous run, sorted by keysym for a binary search.
constexpr auto kTable = [] {
    auto table = std::to_array<std::pair<uint32_t, uint32_t>>({
        {XK_space, VK_SPACE},
        {XK_apostrophe, VK_OEM_7},
        {XK_comma, VK_OEM_COMMA},
        {XK_minus, VK_OEM_MINUS},
        {XK_period, VK_OEM_PERIOD},
        {XK_slash, VK_OEM_2},
        {XK_semicolon, VK_OEM_1},
        {XK_less, VK_OEM_102},
        {XK_equal, VK_OEM_PLUS},
        {XK_bracketleft, VK_OEM_4},
        {XK_backslash, VK_OEM_5},
        {XK_bracketright, VK_OEM_6},
        {XK_grave, VK_OEM_3},
        {XK_ISO_Left_Tab, VK_TAB},
        {XK_BackSpace, VK_BACK},
        {XK_Tab, VK_TAB},
        {XK_Clear, VK_CLEAR},
        {XK_Return, VK_RETURN},
        {XK_Pause, VK_PAUSE},
        {XK_Scroll_Lock, VK_SCROLL},
        {XK_Escape, VK_ESCAPE},
        {XK_Home, VK_HOME},
        {XK_Left, VK_LEFT},
        {XK_Up, VK_UP},
        {XK_Right, VK_RIGHT},
        {XK_Down, VK_DOWN},
        {XK_Prior, VK_PRIOR},
        {XK_Next, VK_NEXT},
        {XK_End, VK_END},
        {XK_Print, VK_SNAPSHOT},
        {XK_Insert, VK_INSERT},
        {XK_Menu, VK_APPS},
        {XK_Num_Lock, VK_NUMLOCK},
        {XK_KP_Enter, VK_RETURN},
        {XK_KP_Home, VK_HOME},
        {XK_KP_Left, VK_LEFT},
        {XK_KP_Up, VK_UP},
        {XK_KP_Right, VK_RIGHT},
        {XK_KP_Down, VK_DOWN},
        {XK_KP_Prior, VK_PRIOR},
        {XK_KP_Next, VK_NEXT},
        {XK_KP_End, VK_END},
        {XK_KP_Begin, VK_CLEAR},
        {XK_KP_Insert, VK_INSERT},
        {XK_KP_Delete, VK_DELETE},
        {XK_KP_Multiply, VK_MULTIPLY},
        {XK_KP_Add, VK_ADD},
        {XK_KP_Separator, VK_SEPARATOR},
        {XK_KP_Subtract, VK_SUBTRACT},
        {XK_KP_Decimal, VK_DECIMAL},
        {XK_KP_Divide, VK_DIVIDE},
        {XK_Shift_L, VK_SHIFT},
        {XK_Shift_R, VK_SHIFT},
        {XK_Control_L, VK_CONTROL},
        {XK_Control_R, VK_CONTROL},
        {XK_Caps_Lock, VK_CAPITAL},
        {XK_Meta_L, VK_MENU},
        {XK_Meta_R, VK_MENU},
        {XK_Alt_L, VK_MENU},
        {XK_Alt_R, VK_MENU},
        {XK_Super_L, VK_LWIN},
        {XK_Super_R, VK_RWIN},
        {XK_Delete, VK_DELETE},
    });
    std::sort(table.begin(), table.end());
    return table;
}();

}  // namespace

uint32_t virtualKeyFromKeysym(uint32_t keysym) {
    if (keysym >= XK_a && keysym <= XK_z) return VK_A + (keysym - XK_a);
    if (keysym >= XK_A && keysym <= XK_Z) return VK_A + (keysym - XK_A);
    if (keysym >= XK_0 && keysym <= XK_9) return VK_0 + (keysym - XK_0);
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9) return VK_NUMPAD0 + (keysym - XK_KP_0);
    if (keysym >= XK_F1 && keysym <= XK_F24) return VK_F1 + (keysym - XK_F1);
    const auto it = std::lower_bound(kTable.begin(), kTable.end(), std::pair<uint32_t, uint32_t>{keysym, 0});
    return it != kTable.end() && it->first == keysym ? it->second : 0;
}

}  // namespace platform
