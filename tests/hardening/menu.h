// The program's right-button menu driven through the shared harness: choose
// an entry, or open it and close it again unchosen.
#ifndef CHECKERCUBE_MENU_H
#define CHECKERCUBE_MENU_H

#include "harness.h"

// Opens the menu at window pixel (x, y) and chooses entry (1 to 6); false,
// with the reason in harness::lastError(), if the menu did not come and go.
bool chooseMenuEntry(Display *dpy, Window w, int x, int y, int entry, int timeoutMs);
// Opens the menu at window pixel (x, y) and closes it with a left press in
// the window clear of it.
bool openAndDismissMenu(Display *dpy, Window w, int x, int y, int timeoutMs);

#endif
