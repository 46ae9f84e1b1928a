// User input: the console click report and the right-button pop-up menu.
#ifndef CHECKERCUBE_INPUT_H
#define CHECKERCUBE_INPUT_H

// Needs the current window: registers the mouse callback and attaches the menu.
void initInput();

// GLUT mouse and menu callbacks.
void onMouseButton(int button, int state, int x, int y);
void onMenuChoice(int value);

#endif
