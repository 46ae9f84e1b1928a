// Scene: the textured cube, its view, its frame and its animation.
//
// This is the one header for state that more than one scene file shares and
// for the scene entry points that the shell and the tests call.
#ifndef CHECKERCUBE_SCENE_H
#define CHECKERCUBE_SCENE_H

#include <GL/gl.h>

// How often the checkerboard repeats across a face in each direction.
extern float texScale;
// The checkerboard's texture object; 0 until initScene has made it.
extern GLuint textureId;

// Needs a current GL context: the texture set-up, then the view set-up.
void initScene();
// GLUT display and idle callbacks.
void renderFrame();
void advanceSpin();

// The cube model, drawn as textured polygons at the current texScale.
void drawFace(int a, int b, int c, int d);
void drawCube();

// The 32 x 32 RGBA checkerboard that initScene uploads.
enum { checkerSize = 32 };
void checkerTexel(int row, int col, GLubyte texel[4]);
void buildCheckerImage();
// Builds the board and uploads it into textureId, which stays bound.
void initTexture();

// One animation step each, free of GL so that they can be checked alone.
float nextSpinAngle(float angle);
float nextTexScale(float scale, int growing);
int nextScaleGrowing(float scale, int growing);

#endif
