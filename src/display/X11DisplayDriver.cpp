// The X11 RandR 1.2 back end of the display driver seam.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "display/DisplayDriver.h"

namespace display {

namespace {

constexpr uint32_t DM_INTERLACED = 0x00000002;

// Xlib reports protocol errors to one process-wide handler whose default ends the process. Every
// use of our connections therefore runs inside an XSession: it holds one process-wide lock (so our
// handler and its state are never shared), routes errors of its own connection into a field and
// passes errors of other connections on to the handler that was installed before.
std::mutex gXLock;
Display* gTrapDisplay = nullptr;
int gTrapError = 0;
XErrorHandler gPreviousHandler = nullptr;

int TrapHandler(Display* display, XErrorEvent* event) {
  if (display == gTrapDisplay) {
    if (gTrapError == 0) gTrapError = event->error_code ? event->error_code : 1;
    return 0;
  }
  return gPreviousHandler ? gPreviousHandler(display, event) : 0;
}

class XSession {
 public:
  explicit XSession(Display* display) : FGuard(gXLock), FDisplay(display) {
    gPreviousHandler = XSetErrorHandler(TrapHandler);
    gTrapDisplay = display;
    XSync(display, False);
    gTrapError = 0;
  }
  ~XSession() {
    XSync(FDisplay, False);
    XSetErrorHandler(gPreviousHandler);
    gTrapDisplay = nullptr;
    gPreviousHandler = nullptr;
  }
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  // Waits until the server has handled every request; true when none of them failed since the
  // last call.
  bool Sync() {
    XSync(FDisplay, False);
    const bool ok = gTrapError == 0;
    gTrapError = 0;
    return ok;
  }

 private:
  std::lock_guard<std::mutex> FGuard;
  Display* FDisplay;
};

struct ResourcesDeleter {
  void operator()(XRRScreenResources* p) const { XRRFreeScreenResources(p); }
};
struct OutputDeleter {
  void operator()(XRROutputInfo* p) const { XRRFreeOutputInfo(p); }
};
struct CrtcDeleter {
  void operator()(XRRCrtcInfo* p) const { XRRFreeCrtcInfo(p); }
};
using Resources = std::unique_ptr<XRRScreenResources, ResourcesDeleter>;
using OutputInfo = std::unique_ptr<XRROutputInfo, OutputDeleter>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, CrtcDeleter>;

const XRRModeInfo* FindMode(const XRRScreenResources& res, RRMode id) {
  for (int i = 0; i < res.nmode; ++i) {
    if (res.modes[i].id == id) return &res.modes[i];
  }
  return nullptr;
}

uint32_t RefreshOf(const XRRModeInfo& mode) {
  double vTotal = mode.vTotal;
  if (mode.modeFlags & RR_DoubleScan) vTotal *= 2;
  if (mode.modeFlags & RR_Interlace) vTotal /= 2;
  if (mode.hTotal == 0 || vTotal <= 0) return 0;
  const double hz = static_cast<double>(mode.dotClock) / (mode.hTotal * vTotal);
  return static_cast<uint32_t>(std::lround(hz));
}

bool IsQuarterTurn(Rotation rotation) { return (rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0; }

uint32_t OrientationOf(Rotation rotation) {
  if (rotation & RR_Rotate_90) return DMDO_90;
  if (rotation & RR_Rotate_180) return DMDO_180;
  if (rotation & RR_Rotate_270) return DMDO_270;
  return DMDO_DEFAULT;
}

Rotation RotationOf(uint32_t orientation) {
  switch (orientation) {
    case DMDO_90:
      return RR_Rotate_90;
    case DMDO_180:
      return RR_Rotate_180;
    case DMDO_270:
      return RR_Rotate_270;
    default:
      return RR_Rotate_0;
  }
}

int BitsPerPixelOfDepth(Display* display, int depth) {
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
  int bpp = depth;
  for (int i = 0; i < count; ++i) {
    if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
  }
  if (formats) XFree(formats);
  return bpp;
}

bool RootSize(Display* display, Window root, unsigned& width, unsigned& height) {
  Window r = 0;
  int x = 0, y = 0;
  unsigned border = 0, depth = 0;
  return XGetGeometry(display, root, &r, &x, &y, &width, &height, &border, &depth) != 0;
}

}  // namespace

struct TX11DisplayDriver::Impl {
  Display* display = nullptr;
  Window root = 0;
  int eventBase = 0;
  int bitsPerPixel = 0;
  unsigned origWidth = 0, origHeight = 0;
  int origMmWidth = 0, origMmHeight = 0;

  ~Impl() {
    if (display) XCloseDisplay(display);
  }

  // The primary output when it is connected and lit, else the first such output; 0 if none.
  RROutput PickOutput(const XRRScreenResources& res, OutputInfo& info) const {
    const RROutput primary = XRRGetOutputPrimary(display, root);
    auto usable = [&](RROutput id) {
      OutputInfo oi(XRRGetOutputInfo(display, const_cast<XRRScreenResources*>(&res), id));
      if (!oi || oi->connection != RR_Connected || oi->crtc == None) return false;
      info = std::move(oi);
      return true;
    };
    if (primary != None && usable(primary)) return primary;
    for (int i = 0; i < res.noutput; ++i) {
      if (usable(res.outputs[i])) return res.outputs[i];
    }
    return None;
  }

  // Physical size for a screen of width x height pixels: the original one at the original size,
  // else scaled to keep the original pixel density (96 dpi when the server reports none).
  void PhysicalSize(unsigned width, unsigned height, int& mmWidth, int& mmHeight) const {
    if (width == origWidth && height == origHeight && origMmWidth > 0 && origMmHeight > 0) {
      mmWidth = origMmWidth;
      mmHeight = origMmHeight;
      return;
    }
    auto scale = [](unsigned px, unsigned origPx, int origMm) {
      if (origMm > 0 && origPx > 0) {
        return std::max(1,
                        static_cast<int>(std::lround(static_cast<double>(origMm) * px / origPx)));
      }
      return std::max(1, static_cast<int>(std::lround(px * 25.4 / 96.0)));
    };
    mmWidth = scale(width, origWidth, origMmWidth);
    mmHeight = scale(height, origHeight, origMmHeight);
  }

  DEVMODE Record(const XRRModeInfo& mode, Rotation rotation) const {
    const bool turned = IsQuarterTurn(rotation);
    DEVMODE m = MakeDevMode(turned ? mode.height : mode.width, turned ? mode.width : mode.height,
                            static_cast<uint32_t>(bitsPerPixel), RefreshOf(mode));
    m.dmFields |= DM_DISPLAYORIENTATION | DM_DISPLAYFLAGS;
    m.dmDisplayOrientation = OrientationOf(rotation);
    m.dmDisplayFlags = (mode.modeFlags & RR_Interlace) ? DM_INTERLACED : 0;
    m.dmDriverMode = mode.id;
    return m;
  }

  // Waits (at most two seconds) until the server has told us about the new CRTC mode and, when
  // the screen size changed, about the new screen size, keeping Xlib's idea of the screen current.
  void WaitForChange(RRCrtc crtc, RRMode mode, unsigned width, unsigned height, bool sizeChanges) {
    bool crtcSeen = false;
    bool screenSeen = !sizeChanges;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!(crtcSeen && screenSeen)) {
      if (XPending(display) == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{ConnectionNumber(display), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
        continue;
      }
      XEvent event;
      XNextEvent(display, &event);
      XRRUpdateConfiguration(&event);
      if (event.type == eventBase + RRScreenChangeNotify) {
        const auto* sc = reinterpret_cast<const XRRScreenChangeNotifyEvent*>(&event);
        if (static_cast<unsigned>(sc->width) == width &&
            static_cast<unsigned>(sc->height) == height)
          screenSeen = true;
      } else if (event.type == eventBase + RRNotify) {
        const auto* n = reinterpret_cast<const XRRNotifyEvent*>(&event);
        if (n->subtype == RRNotify_CrtcChange) {
          const auto* cc = reinterpret_cast<const XRRCrtcChangeNotifyEvent*>(&event);
          if (cc->crtc == crtc && cc->mode == mode) crtcSeen = true;
        }
      }
    }
  }

  // Handles queued notifications so that they do not pile up between changes.
  void DrainEvents() {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      XRRUpdateConfiguration(&event);
    }
  }
};

TX11DisplayDriver::TX11DisplayDriver(std::unique_ptr<Impl> impl) : FImpl(std::move(impl)) {}
TX11DisplayDriver::~TX11DisplayDriver() {
  std::lock_guard guard(gXLock);
  FImpl.reset();
}

std::unique_ptr<TX11DisplayDriver> TX11DisplayDriver::Open(const char* displayName) {
  Display* display = XOpenDisplay(displayName);
  if (!display) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->display = display;
  {
    XSession session(display);
    int errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &impl->eventBase, &errorBase) ||
        !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 2)) {
      return nullptr;
    }
    const int screen = DefaultScreen(display);
    impl->root = RootWindow(display, screen);
    impl->bitsPerPixel = BitsPerPixelOfDepth(display, DefaultDepth(display, screen));
    Resources res(XRRGetScreenResourcesCurrent(display, impl->root));
    OutputInfo info;
    if (!res || impl->PickOutput(*res, info) == None) return nullptr;
    if (!RootSize(display, impl->root, impl->origWidth, impl->origHeight)) return nullptr;
    impl->origMmWidth = DisplayWidthMM(display, screen);
    impl->origMmHeight = DisplayHeightMM(display, screen);
    XRRSelectInput(display, impl->root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask);
    if (!session.Sync()) return nullptr;
  }
  return std::unique_ptr<TX11DisplayDriver>(new TX11DisplayDriver(std::move(impl)));
}

bool TX11DisplayDriver::RootScreenMode(const char* displayName, DEVMODE& mode) {
  Display* display = XOpenDisplay(displayName);
  if (!display) return false;
  {
    XSession session(display);
    const int screen = DefaultScreen(display);
    mode = MakeDevMode(
        static_cast<uint32_t>(DisplayWidth(display, screen)),
        static_cast<uint32_t>(DisplayHeight(display, screen)),
        static_cast<uint32_t>(BitsPerPixelOfDepth(display, DefaultDepth(display, screen))), 0);
  }
  XCloseDisplay(display);
  return true;
}

bool TX11DisplayDriver::EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) {
  Impl& x = *FImpl;
  XSession session(x.display);
  x.DrainEvents();
  Resources res(XRRGetScreenResourcesCurrent(x.display, x.root));
  OutputInfo output;
  if (!res || x.PickOutput(*res, output) == None) return false;
  if (iModeNum == ENUM_CURRENT_SETTINGS) {
    CrtcInfo crtc(XRRGetCrtcInfo(x.display, res.get(), output->crtc));
    if (!crtc || crtc->mode == None) return false;
    const XRRModeInfo* mode = FindMode(*res, crtc->mode);
    if (!mode) return false;
    devMode = x.Record(*mode, crtc->rotation);
    return true;
  }
  if (iModeNum >= static_cast<uint32_t>(output->nmode)) return false;
  const XRRModeInfo* mode = FindMode(*res, output->modes[iModeNum]);
  if (!mode) return false;
  devMode = x.Record(*mode, RR_Rotate_0);
  return true;
}

int32_t TX11DisplayDriver::ChangeDisplaySettings(const DEVMODE& devMode, uint32_t dwFlags) {
  if ((dwFlags & ~CDS_TEST) != 0) return DISP_CHANGE_BADPARAM;
  Impl& x = *FImpl;
  // The depth of an X screen is fixed for the server's lifetime.
  if ((devMode.dmFields & DM_BITSPERPEL) &&
      devMode.dmBitsPerPel != static_cast<uint32_t>(x.bitsPerPixel))
    return DISP_CHANGE_BADMODE;

  XSession session(x.display);
  x.DrainEvents();
  Resources res(XRRGetScreenResourcesCurrent(x.display, x.root));
  OutputInfo output;
  if (!res || x.PickOutput(*res, output) == None) return DISP_CHANGE_FAILED;
  const RRCrtc crtcId = output->crtc;
  CrtcInfo crtc(XRRGetCrtcInfo(x.display, res.get(), crtcId));
  if (!crtc) return DISP_CHANGE_FAILED;

  Rotation rotation = crtc->rotation & 0x0F;
  if (devMode.dmFields & DM_DISPLAYORIENTATION) {
    if (devMode.dmDisplayOrientation > DMDO_270) return DISP_CHANGE_BADMODE;
    rotation = RotationOf(devMode.dmDisplayOrientation);
    if ((crtc->rotations & rotation) == 0) return DISP_CHANGE_BADMODE;
  }
  const Rotation reflection = crtc->rotation & (RR_Reflect_X | RR_Reflect_Y);

  // The mode: by its id when the record came from us and the output still has it, else by size
  // (as seen on the screen) and refresh rate.
  const XRRModeInfo* target = nullptr;
  for (int i = 0; i < output->nmode && !target && devMode.dmDriverMode != 0; ++i) {
    if (output->modes[i] == devMode.dmDriverMode) target = FindMode(*res, output->modes[i]);
  }
  const bool turned = IsQuarterTurn(rotation);
  for (int i = 0; i < output->nmode && !target; ++i) {
    const XRRModeInfo* mode = FindMode(*res, output->modes[i]);
    if (!mode) continue;
    const unsigned w = turned ? mode->height : mode->width;
    const unsigned h = turned ? mode->width : mode->height;
    if (w != devMode.dmPelsWidth || h != devMode.dmPelsHeight) continue;
    if ((devMode.dmFields & DM_DISPLAYFREQUENCY) && devMode.dmDisplayFrequency != 0 &&
        RefreshOf(*mode) != devMode.dmDisplayFrequency)
      continue;
    target = mode;
  }
  if (!target) return DISP_CHANGE_BADMODE;

  const unsigned crtcWidth = turned ? target->height : target->width;
  const unsigned crtcHeight = turned ? target->width : target->height;
  // The new screen covers every lit CRTC.
  unsigned newWidth = static_cast<unsigned>(std::max(0, crtc->x)) + crtcWidth;
  unsigned newHeight = static_cast<unsigned>(std::max(0, crtc->y)) + crtcHeight;
  for (int i = 0; i < res->ncrtc; ++i) {
    if (res->crtcs[i] == crtcId) continue;
    CrtcInfo other(XRRGetCrtcInfo(x.display, res.get(), res->crtcs[i]));
    if (!other || other->mode == None) continue;
    newWidth = std::max(newWidth, static_cast<unsigned>(std::max(0, other->x)) + other->width);
    newHeight = std::max(newHeight, static_cast<unsigned>(std::max(0, other->y)) + other->height);
  }
  int minW = 0, minH = 0, maxW = 0, maxH = 0;
  if (XRRGetScreenSizeRange(x.display, x.root, &minW, &minH, &maxW, &maxH) &&
      (newWidth < static_cast<unsigned>(minW) || newHeight < static_cast<unsigned>(minH) ||
       newWidth > static_cast<unsigned>(maxW) || newHeight > static_cast<unsigned>(maxH)))
    return DISP_CHANGE_BADMODE;
  if (dwFlags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;

  unsigned curWidth = 0, curHeight = 0;
  if (!RootSize(x.display, x.root, curWidth, curHeight)) return DISP_CHANGE_FAILED;
  if (crtc->mode == target->id && (crtc->rotation & 0x0F) == rotation && curWidth == newWidth &&
      curHeight == newHeight)
    return DISP_CHANGE_SUCCESSFUL;  // already on the screen

  int mmW = 0, mmH = 0;
  XGrabServer(x.display);
  // Grow first so that the CRTC fits, change the CRTC, then shrink to the new size.
  const unsigned grownWidth = std::max(curWidth, newWidth);
  const unsigned grownHeight = std::max(curHeight, newHeight);
  const bool grows = grownWidth != curWidth || grownHeight != curHeight;
  if (grows) {
    x.PhysicalSize(grownWidth, grownHeight, mmW, mmH);
    XRRSetScreenSize(x.display, x.root, static_cast<int>(grownWidth), static_cast<int>(grownHeight),
                     mmW, mmH);
  }
  const Status status =
      XRRSetCrtcConfig(x.display, res.get(), crtcId, CurrentTime, crtc->x, crtc->y, target->id,
                       rotation | reflection, crtc->outputs, crtc->noutput);
  if (status != RRSetConfigSuccess || !session.Sync()) {
    if (grows) {
      x.PhysicalSize(curWidth, curHeight, mmW, mmH);
      XRRSetScreenSize(x.display, x.root, static_cast<int>(curWidth), static_cast<int>(curHeight),
                       mmW, mmH);
    }
    XUngrabServer(x.display);
    session.Sync();
    return DISP_CHANGE_FAILED;
  }
  // Always set the final size: it also gives the screen back its physical size.
  x.PhysicalSize(newWidth, newHeight, mmW, mmH);
  XRRSetScreenSize(x.display, x.root, static_cast<int>(newWidth), static_cast<int>(newHeight), mmW,
                   mmH);
  XUngrabServer(x.display);
  if (!session.Sync()) return DISP_CHANGE_FAILED;
  x.WaitForChange(crtcId, target->id, newWidth, newHeight,
                  newWidth != curWidth || newHeight != curHeight);
  return DISP_CHANGE_SUCCESSFUL;
}

int32_t TX11DisplayDriver::GetDeviceCaps(int32_t nIndex) {
  Impl& x = *FImpl;
  if (nIndex == BITSPIXEL) return x.bitsPerPixel;
  if (nIndex == PLANES) return 1;
  if (nIndex != HORZRES && nIndex != VERTRES && nIndex != VREFRESH) return 0;
  XSession session(x.display);
  x.DrainEvents();
  Resources res(XRRGetScreenResourcesCurrent(x.display, x.root));
  OutputInfo output;
  if (res && x.PickOutput(*res, output) != None) {
    CrtcInfo crtc(XRRGetCrtcInfo(x.display, res.get(), output->crtc));
    if (crtc && crtc->mode != None) {
      if (nIndex == HORZRES) return static_cast<int32_t>(crtc->width);
      if (nIndex == VERTRES) return static_cast<int32_t>(crtc->height);
      const XRRModeInfo* mode = FindMode(*res, crtc->mode);
      return mode ? static_cast<int32_t>(RefreshOf(*mode)) : 0;
    }
  }
  unsigned w = 0, h = 0;
  if (nIndex == VREFRESH || !RootSize(x.display, x.root, w, h)) return 0;
  return static_cast<int32_t>(nIndex == HORZRES ? w : h);
}

std::vector<TWindowHandle> TX11DisplayDriver::GetTopLevelWindows() {
  Impl& x = *FImpl;
  XSession session(x.display);
  Window rootReturn = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<TWindowHandle> result;
  if (XQueryTree(x.display, x.root, &rootReturn, &parent, &children, &count)) {
    // The server lists children bottom to top.
    for (unsigned i = count; i-- > 0;) result.push_back(static_cast<TWindowHandle>(children[i]));
    if (children) XFree(children);
  }
  return result;
}

bool TX11DisplayDriver::IsWindowVisible(TWindowHandle hWnd) {
  Impl& x = *FImpl;
  XSession session(x.display);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(x.display, hWnd, &attr) || !session.Sync()) return false;
  return attr.map_state == IsViewable && attr.c_class == InputOutput;
}

bool TX11DisplayDriver::GetWindowRect(TWindowHandle hWnd, TRect& rect) {
  Impl& x = *FImpl;
  XSession session(x.display);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(x.display, hWnd, &attr) || !session.Sync()) return false;
  rect = TRect{attr.x, attr.y, attr.x + attr.width + 2 * attr.border_width,
               attr.y + attr.height + 2 * attr.border_width};
  return true;
}

bool TX11DisplayDriver::IsWindowResponding(TWindowHandle hWnd, uint32_t) {
  // X has no way to ask another client whether it is alive; a window that still exists counts.
  Impl& x = *FImpl;
  XSession session(x.display);
  XWindowAttributes attr;
  return XGetWindowAttributes(x.display, hWnd, &attr) && session.Sync();
}

bool TX11DisplayDriver::SetWindowPos(TWindowHandle hWnd, const TRect& rect) {
  Impl& x = *FImpl;
  XSession session(x.display);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(x.display, hWnd, &attr) || !session.Sync()) return false;
  const int width = std::max(1, rect.Right - rect.Left - 2 * attr.border_width);
  const int height = std::max(1, rect.Bottom - rect.Top - 2 * attr.border_width);
  XMoveResizeWindow(x.display, hWnd, rect.Left, rect.Top, static_cast<unsigned>(width),
                    static_cast<unsigned>(height));
  return session.Sync();
}

}  // namespace display
