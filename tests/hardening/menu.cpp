// The program's right-button menu driven through the shared harness.
#include "menu.h"

namespace {

// opens the menu with a right press and release at window pixel (x, y)
Window openMenu(Display *dpy, Window w, int x, int y, int timeoutMs)
{
    harness::press(dpy, w, x, y, harness::rightButton);
    const Window menu = harness::findPopup(dpy, timeoutMs);
    harness::release(dpy, w, x, y, harness::rightButton);
    return menu;
}

} // namespace

bool chooseMenuEntry(Display *dpy, Window w, int x, int y, int entry, int timeoutMs)
{
    const Window menu = openMenu(dpy, w, x, y, timeoutMs);
    if (!menu)
        return false;
    const harness::Geometry g = harness::geometry(dpy, menu);
    // six rows of equal height
    const int row = (2 * entry - 1) * g.height / 12;
    harness::click(dpy, menu, g.width / 2, row, harness::leftButton);
    return harness::waitPopupGone(dpy, timeoutMs);
}

bool openAndDismissMenu(Display *dpy, Window w, int x, int y, int timeoutMs)
{
    const Window menu = openMenu(dpy, w, x, y, timeoutMs);
    if (!menu)
        return false;
    const harness::Geometry m = harness::geometry(dpy, menu);
    const harness::Geometry g = harness::geometry(dpy, w);
    // the root window would not do: GLUT sees no events there
    for (const int cx : {3, g.width - 4})
        for (const int cy : {3, g.height - 4}) {
            const int rx = g.x + cx, ry = g.y + cy;
            if (rx < m.x || rx >= m.x + m.width || ry < m.y || ry >= m.y + m.height) {
                harness::click(dpy, w, cx, cy, harness::leftButton);
                return harness::waitPopupGone(dpy, timeoutMs);
            }
        }
    return harness::waitPopupGone(dpy, timeoutMs);
}
