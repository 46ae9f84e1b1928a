// Click report and pop-up menu: a left press prints its window coordinates;
// the right button opens a menu whose first entry quits.
#include "input.h"

#include <GL/glut.h>
#include <cstdio>
#include <cstdlib>

enum { menuQuit = 1 };

void onMouseButton(int button, int state, int x, int y)
{
    if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN)
        std::printf("Mouse Click! %d,%d\n", x, y);
}

void onMenuChoice(int value)
{
    // exit, not _exit: output still buffered for a pipe must reach it
    if (value == menuQuit)
        std::exit(0);
}

void initInput()
{
    glutMouseFunc(onMouseButton);
    glutCreateMenu(onMenuChoice);
    glutAddMenuEntry("Quit", menuQuit);
    for (int value = 2; value <= 6; value++)
        glutAddMenuEntry("No Function", value);
    glutAttachMenu(GLUT_RIGHT_BUTTON);
}
