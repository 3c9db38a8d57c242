#include "platform/keycodes.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace {

using platform::virtualKeyFromKeysym;

TEST(Keycodes, MapsKeysymsToWindowsVirtualKeys) {
    struct Case {
        uint32_t keysym;
        uint32_t vk;
    };
    const Case cases[] = {
        {XK_a, 0x41},           {XK_z, 0x5A},           {XK_Q, 0x51},
        {XK_0, 0x30},           {XK_9, 0x39},           {XK_F1, 0x70},
        {XK_F10, 0x79},         {XK_F12, 0x7B},         {XK_F24, 0x87},
        {XK_Left, 0x25},        {XK_Up, 0x26},          {XK_Right, 0x27},
        {XK_Down, 0x28},        {XK_space, 0x20},       {XK_Return, 0x0D},
        {XK_KP_Enter, 0x0D},    {XK_Tab, 0x09},         {XK_BackSpace, 0x08},
        {XK_Escape, 0x1B},      {XK_Shift_L, 0x10},     {XK_Shift_R, 0x10},
        {XK_Control_L, 0x11},   {XK_Control_R, 0x11},   {XK_Alt_L, 0x12},
        {XK_Alt_R, 0x12},       {XK_Caps_Lock, 0x14},   {XK_Prior, 0x21},
        {XK_Next, 0x22},        {XK_End, 0x23},         {XK_Home, 0x24},
        {XK_Insert, 0x2D},      {XK_Delete, 0x2E},      {XK_semicolon, 0xBA},
        {XK_equal, 0xBB},       {XK_comma, 0xBC},       {XK_minus, 0xBD},
        {XK_period, 0xBE},      {XK_slash, 0xBF},       {XK_grave, 0xC0},
        {XK_bracketleft, 0xDB}, {XK_backslash, 0xDC},   {XK_bracketright, 0xDD},
        {XK_apostrophe, 0xDE},  {XK_less, 0xE2},        {XK_KP_0, 0x60},
        {XK_KP_9, 0x69},        {XK_KP_Multiply, 0x6A}, {XK_KP_Add, 0x6B},
        {XK_KP_Subtract, 0x6D}, {XK_KP_Decimal, 0x6E},  {XK_KP_Divide, 0x6F},
        {XK_KP_Home, 0x24},     {XK_KP_Begin, 0x0C},    {XK_Num_Lock, 0x90},
        {XK_Super_L, 0x5B},     {XK_Menu, 0x5D},
    };
    for (const Case& c : cases)
        EXPECT_EQ(virtualKeyFromKeysym(c.keysym), c.vk) << "keysym 0x" << std::hex << c.keysym;
}

TEST(Keycodes, KeysWithoutAVirtualKeyGiveZero) {
    for (uint32_t keysym :
         {0u, uint32_t{XK_exclam}, uint32_t{XK_Hyper_L}, uint32_t{XK_eacute}, 0xFFFFFFFFu}) {
        EXPECT_EQ(virtualKeyFromKeysym(keysym), 0u) << "keysym 0x" << std::hex << keysym;
    }
}

}  // namespace
