#include "platform/x11window.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/keycodes.h"
#include "platform/stretch.h"
#include "platform/windowlimits.h"
#include "platform/x11input.h"

namespace platform {

namespace {

// X errors arrive through one process-wide handler; requests check them right after an XSync on the same
// thread, so the flag is per thread.
thread_local bool tlsXError = false;

int recordXError(Display*, XErrorEvent*) {
    tlsXError = true;
    return 0;
}

// Xlib must be told about threads before any other call.
void initXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(recordXError);
    });
}

// _MOTIF_WM_HINTS: flags (decorations given), functions, decorations (none), input mode, status.
void removeDecorations(Display* display, ::Window window) {
    const Atom hints = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    long values[5] = {2, 0, 0, 0, 0};
    XChangeProperty(display, window, hints, hints, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(values), 5);
}

// At start-up: libraries that reach the X server on their own (hardware video decoders) may do so from
// other threads before the first window exists.
[[maybe_unused]] const bool xlibReadyAtStart = (initXlib(), true);

bool isKeypadNavigation(KeySym keysym) {
    return keysym >= XK_KP_Home && keysym <= XK_KP_Delete;
}

}  // namespace

std::unique_ptr<Window> X11Window::make(const Rect& rect, ShowState initialState) {
    initXlib();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        XCloseDisplay(display);
        return nullptr;
    }
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            Button1MotionMask | ExposureMask | StructureNotifyMask;
    const ::Window window =
        XCreateWindow(display, RootWindow(display, screen), rect.x, rect.y, static_cast<unsigned>(rect.width),
                      static_cast<unsigned>(rect.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixel | CWEventMask, &attributes);

    XStoreName(display, window, "NAME");
    XClassHint classHint{const_cast<char*>("qx-native-client"), const_cast<char*>("TEST")};
    XSetClassHint(display, window, &classHint);
    // The place and size come from the controller: the window manager must not choose them.
    XSizeHints sizeHints{};
    sizeHints.flags = USPosition | USSize | PPosition | PSize;
    sizeHints.x = rect.x;
    sizeHints.y = rect.y;
    sizeHints.width = rect.width;
    sizeHints.height = rect.height;
    XSetWMNormalHints(display, window, &sizeHints);
    XWMHints wmHints{};
    wmHints.flags = StateHint | InputHint;
    wmHints.input = True;
    wmHints.initial_state = initialState == ShowState::Minimized ? IconicState : NormalState;
    XSetWMHints(display, window, &wmHints);
    // A close request from the window manager is ignored: the controller decides when a device window goes.
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    removeDecorations(display, window);
    Bool detectable = False;
    XkbSetDetectableAutoRepeat(display, True, &detectable);

    std::unique_ptr<X11Window> result(new X11Window(display, window, wakeFd, rect, initialState));
    if (initialState == ShowState::Maximized) {
        Atom states[2] = {result->netWmStateMaxVert_, result->netWmStateMaxHorz_};
        XChangeProperty(display, window, result->netWmState_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states), 2);
    }
    XMapWindow(display, window);
    // Some window managers place a newly mapped window themselves; ask once more for the given place.
    XMoveWindow(display, window, rect.x, rect.y);
    XFlush(display);
    return result;
}

Rect X11Window::workArea() {
    initXlib();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return Rect{};
    const int screen = DefaultScreen(display);
    const ::Window root = RootWindow(display, screen);
    Rect area{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};

    auto readCardinals = [&](const char* name, long offset, long count, long* out) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom atom = XInternAtom(display, name, True);
        bool ok = atom != None &&
                  XGetWindowProperty(display, root, atom, offset, count, False, XA_CARDINAL, &type, &format,
                                     &items, &after, &data) == Success &&
                  type == XA_CARDINAL && format == 32 && items == static_cast<unsigned long>(count);
        if (ok) std::memcpy(out, data, sizeof(long) * count);
        if (data) XFree(data);
        return ok;
    };
    long desktop = 0;
    if (!readCardinals("_NET_CURRENT_DESKTOP", 0, 1, &desktop)) desktop = 0;
    long values[4];
    if (desktop >= 0 && desktop < INT_MAX / 4 && readCardinals("_NET_WORKAREA", desktop * 4, 4, values)) {
        area = Rect{static_cast<int32_t>(values[0]), static_cast<int32_t>(values[1]),
                    static_cast<int32_t>(values[2]), static_cast<int32_t>(values[3])};
    }
    XCloseDisplay(display);
    return area;
}

X11Window::X11Window(Display* display, ::Window window, int wakeFd, const Rect& rect, ShowState state)
    : Window(rect, state),
      display_(display),
      window_(window),
      wakeFd_(wakeFd),
      owner_(std::this_thread::get_id()),
      canDraw_([display] {
          const Visual* visual = DefaultVisual(display, DefaultScreen(display));
          return DefaultDepth(display, DefaultScreen(display)) >= 24 && visual->red_mask == 0xFF0000 &&
                 visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
      }()),
      gc_(XCreateGC(display, window, 0, nullptr)),
      netWmState_(XInternAtom(display, "_NET_WM_STATE", False)),
      netWmStateMaxVert_(XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False)),
      netWmStateMaxHorz_(XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False)),
      netActiveWindow_(XInternAtom(display, "_NET_ACTIVE_WINDOW", False)),
      clientWidth_(rect.width),
      clientHeight_(rect.height),
      shm_(display) {}

X11Window::~X11Window() {
    shm_.disable();  // detaches while the connection is still open
    XFreeGC(display_, gc_);
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
    close(wakeFd_);
}

bool X11Window::getMessage(Message& out) {
    for (;;) {
        serveRequests();
        bool repaint = false;
        {
            std::lock_guard lock(mutex_);
            if (!posted_.empty()) {
                out = posted_.front();
                posted_.pop_front();
                return true;
            }
            if (quit_) break;
            repaint = repaint_;
            repaint_ = false;
        }
        if (repaint) paint();
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (translate(event, out)) return true;
        }
        pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        uint64_t wakeups;
        if (fds[1].revents & POLLIN) (void)!read(wakeFd_, &wakeups, sizeof wakeups);
    }
    endRequests();
    XUnmapWindow(display_, window_);
    XFlush(display_);
    return false;
}

void X11Window::postMessage(const Message& message) {
    {
        std::lock_guard lock(mutex_);
        if (posted_.size() >= kMaxPostedMessages) return;
        posted_.push_back(message);
    }
    wake();
}

void X11Window::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
}

bool X11Window::setPosition(const Rect& rect) {
    if (!withinLimits(rect)) return false;
    return runOnWindowThread([this, rect] { return applyPosition(rect); });
}

bool X11Window::setState(ShowState state) {
    return runOnWindowThread([this, state] { return applyState(state); });
}

void X11Window::present(std::shared_ptr<const Picture> picture, const Rect& changed) {
    // Nothing to draw when nothing changed: the newest picture is kept for the next paint all the same.
    if (keepPicture(std::move(picture), changed).empty()) return;
    {
        std::lock_guard lock(mutex_);
        repaint_ = true;
    }
    wake();
}

bool X11Window::runOnWindowThread(std::function<bool()> apply) {
    if (std::this_thread::get_id() == owner_) return apply();
    auto request = std::make_shared<Request>();
    request->apply = std::move(apply);
    {
        std::lock_guard lock(mutex_);
        if (loopEnded_) return false;
        requests_.push_back(request);
    }
    wake();
    std::unique_lock lock(mutex_);
    requestDone_.wait(lock, [&] { return request->done; });
    return request->result;
}

void X11Window::serveRequests() {
    std::deque<std::shared_ptr<Request>> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(requests_);
    }
    if (pending.empty()) return;
    for (auto& request : pending) {
        const bool result = request->apply();
        std::lock_guard lock(mutex_);
        request->result = result;
        request->done = true;
    }
    requestDone_.notify_all();
}

// The loop has ended: nothing will carry out a request any more, so every waiting caller learns it failed.
void X11Window::endRequests() {
    {
        std::lock_guard lock(mutex_);
        loopEnded_ = true;
        for (auto& request : requests_)
            request->done = true;
        requests_.clear();
    }
    requestDone_.notify_all();
}

void X11Window::wake() {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
}

bool X11Window::translate(XEvent& event, Message& out) {
    std::optional<Message> message;
    switch (event.type) {
        case KeyPress:
        case KeyRelease: {
            const bool press = event.type == KeyPress;
            KeySym keysym = XLookupKeysym(&event.xkey, 0);
            // With Num Lock on, the keypad gives its digits, as on Windows.
            if (isKeypadNavigation(keysym) && (event.xkey.state & Mod2Mask))
                keysym = XLookupKeysym(&event.xkey, 1);
            const unsigned keycode = event.xkey.keycode & 0xFF;
            const bool wasDown = keysDown_[keycode];
            keysDown_[keycode] = press;
            // X keycodes are the evdev codes plus 8; below 0x80 those equal the PC scan codes.
            message = keyMessage(press, virtualKeyFromKeysym(static_cast<uint32_t>(keysym)), event.xkey.state,
                                 wasDown, keycode >= 8 ? keycode - 8 : 0);
            break;
        }
        case ButtonPress:
        case ButtonRelease:
            message = pointerMessage({event.type == ButtonPress ? PointerKind::Press : PointerKind::Release,
                                      event.xbutton.button, event.xbutton.x, event.xbutton.y,
                                      event.xbutton.x_root, event.xbutton.y_root, event.xbutton.state});
            break;
        case MotionNotify:
            message = pointerMessage({PointerKind::Motion, 0, event.xmotion.x, event.xmotion.y,
                                      event.xmotion.x_root, event.xmotion.y_root, event.xmotion.state});
            break;
        case Expose:
            if (event.xexpose.count == 0) {
                repaintAll();
                paint();
            }
            break;
        case ConfigureNotify:
            if (event.xconfigure.width != clientWidth_ || event.xconfigure.height != clientHeight_) {
                clientWidth_ = event.xconfigure.width;
                clientHeight_ = event.xconfigure.height;
                paint();
            }
            break;
        default:
            break;
    }
    if (!message) return false;
    out = *message;
    return true;
}

uint32_t* X11Window::sharedPixels(int32_t rows) {
    tlsXError = false;
    bool made = false;
    uint32_t* pixels = shm_.pixels(clientWidth_, rows, made);
    if (tlsXError) {
        shm_.disable();
        return nullptr;
    }
    return pixels;
}

// A band at a time: the window keeps only one band of pixels, and a presenter writing into the picture waits
// for one band's stretch at most, never for the server.
void X11Window::paint() {
    if (!canDraw_) return;
    const PaintJob job = nextPaint(clientWidth_, clientHeight_);
    if (job.area.empty()) return;
    const int32_t rows = bandRows(clientWidth_, clientHeight_);
    if (uint32_t* shared = sharedPixels(rows)) {
        forEachBand(job.area, rows, [&](const Rect& band) {
            stretchBand(*job.picture, shared, clientWidth_, clientHeight_, band);
            shm_.put(window_, gc_, band, band.y);
            return true;
        });
        return;
    }
    sizeImage(backBuffer_, static_cast<size_t>(clientWidth_) * rows);
    const bool drawn = forEachBand(job.area, rows, [&](const Rect& band) {
        stretchBand(*job.picture, backBuffer_.data(), clientWidth_, clientHeight_, band);
        return putPlain(band);
    });
    if (!drawn) repaintAll();
    XFlush(display_);
}

bool X11Window::putPlain(const Rect& area) {
    Visual* visual = DefaultVisual(display_, DefaultScreen(display_));
    XImage* image =
        XCreateImage(display_, visual, DefaultDepth(display_, DefaultScreen(display_)), ZPixmap, 0,
                     reinterpret_cast<char*>(backBuffer_.data()), static_cast<unsigned>(clientWidth_),
                     static_cast<unsigned>(area.height), 32, 0);
    if (!image) return false;
    // The pixels are host-order 32-bit words; Xlib converts when the server's order differs.
    image->byte_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst;
    // Xlib copies the pixels into its request before it returns: the band may be written again at once.
    XPutImage(display_, window_, gc_, image, area.x, 0, area.x, area.y, static_cast<unsigned>(area.width),
              static_cast<unsigned>(area.height));
    image->data = nullptr;  // the buffer belongs to backBuffer_
    XDestroyImage(image);
    return true;
}

bool X11Window::applyPosition(const Rect& rect) {
    tlsXError = false;
    XMoveResizeWindow(display_, window_, rect.x, rect.y, static_cast<unsigned>(rect.width),
                      static_cast<unsigned>(rect.height));
    XSync(display_, False);
    if (tlsXError) return false;
    recordGeometry(rect);
    return true;
}

void X11Window::sendNetWmState(long action, Atom first, Atom second) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = netWmState_;
    event.xclient.format = 32;
    event.xclient.data.l[0] = action;  // 0 remove, 1 add
    event.xclient.data.l[1] = static_cast<long>(first);
    event.xclient.data.l[2] = static_cast<long>(second);
    event.xclient.data.l[3] = 1;  // request from a normal application
    XSendEvent(display_, DefaultRootWindow(display_), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

bool X11Window::applyState(ShowState state) {
    tlsXError = false;
    switch (state) {
        case ShowState::Minimized:
            XIconifyWindow(display_, window_, DefaultScreen(display_));
            break;
        case ShowState::Maximized:
            XMapWindow(display_, window_);
            sendNetWmState(1, netWmStateMaxVert_, netWmStateMaxHorz_);
            break;
        case ShowState::Normal: {
            XMapRaised(display_, window_);
            sendNetWmState(0, netWmStateMaxVert_, netWmStateMaxHorz_);
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window_;
            event.xclient.message_type = netActiveWindow_;
            event.xclient.format = 32;
            event.xclient.data.l[0] = 1;  // request from a normal application
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display_, DefaultRootWindow(display_), False,
                       SubstructureRedirectMask | SubstructureNotifyMask, &event);
            break;
        }
    }
    XSync(display_, False);
    if (tlsXError) return false;
    recordState(state);
    return true;
}

}  // namespace platform
