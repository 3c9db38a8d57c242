#include "tests/e2e/system/xscreen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

namespace {

// The client's windows come and go while they are looked at: a request about a window that just went away
// fails, and that must not end the watching program (Xlib's default handler exits).
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

XScreen::XScreen() : display_(XOpenDisplay(nullptr)) {
    XSetErrorHandler(ignoreError);
}

XScreen::~XScreen() {
    if (display_) XCloseDisplay(display_);
}

void XScreen::collect(WindowId parent, int depth, std::vector<WindowId>* found) {
    Window root, up;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, parent, &root, &up, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) {
        XClassHint hint{};
        if (XGetClassHint(display_, children[i], &hint)) {
            // The Windows client under wine is named after its executable.
            const bool client = hint.res_name && (strcmp(hint.res_name, "qx-native-client") == 0 ||
                                                  strcmp(hint.res_name, "qx-native-client.exe") == 0);
            if (client && viewable(children[i])) found->push_back(children[i]);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        // A window manager puts each client window inside a frame of its own.
        if (depth < 2) collect(children[i], depth + 1, found);
    }
    if (children) XFree(children);
}

std::vector<XScreen::WindowId> XScreen::deviceWindows() {
    std::vector<WindowId> found;
    collect(DefaultRootWindow(display_), 0, &found);
    std::sort(found.begin(), found.end(),
              [&](WindowId a, WindowId b) { return geometry(a).x < geometry(b).x; });
    return found;
}

XScreen::Geometry XScreen::geometry(WindowId window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display_, window, &attributes);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

bool XScreen::viewable(WindowId window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
}

uint32_t XScreen::pixel(int x, int y) {
    const std::vector<uint32_t> one = row(x, y, 1);
    return one.empty() ? 0xFFFFFFFF : one[0];
}

std::vector<uint32_t> XScreen::row(int x, int y, int width) {
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width), 1,
                              AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int i = 0; i < width; ++i)
        pixels.push_back(static_cast<uint32_t>(XGetPixel(image, i, 0)) & 0xFFFFFF);
    XDestroyImage(image);
    return pixels;
}

uint32_t XScreen::windowPixel(WindowId window, int x, int y) {
    const Geometry g = geometry(window);
    return pixel(g.x + x, g.y + y);
}
