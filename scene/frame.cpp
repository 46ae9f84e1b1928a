// View set-up, frame and animation: the cube turns 1.5 degrees per idle call
// about three axes, and its board zooms by 0.05 per drawn frame between 1 and 3.
#include "scene.h"

#include <GL/glut.h>

float texScale = 1.0f;

static float spinAngle = 0.0f;
static int scaleGrowing = 1;

float nextSpinAngle(float angle)
{
    angle += 1.5f;
    // strictly greater: 360 is drawn once, and 361.5 never
    return angle > 360.0f ? 0.0f : angle;
}

float nextTexScale(float scale, int growing)
{
    // widened to double for the step, rounded back to float on return
    return static_cast<float>(growing ? scale + 0.05 : scale - 0.05);
}

int nextScaleGrowing(float scale, int growing)
{
    if (scale > 3.0f)
        growing = 0;
    if (scale < 1.0f)
        growing = 1;
    return growing;
}

static void initView()
{
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2.0, 2.0, -2.0, 2.0, -2.0, 2.0);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_DEPTH_TEST);
}

void initScene()
{
    initTexture();
    initView();
}

void renderFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glBindTexture(GL_TEXTURE_2D, textureId);

    glLoadIdentity();
    glRotatef(spinAngle, 1.0f, 1.0f, 1.0f);
    glRotatef(spinAngle, 1.0f, 0.0f, 1.0f);
    glRotatef(spinAngle, 0.0f, 1.0f, 1.0f);
    drawCube();

    glutSwapBuffers();
    glDisable(GL_TEXTURE_2D);

    // the frame just drawn used the scale from before this step
    texScale = nextTexScale(texScale, scaleGrowing);
    scaleGrowing = nextScaleGrowing(texScale, scaleGrowing);
}

void advanceSpin()
{
    spinAngle = nextSpinAngle(spinAngle);
    glutPostRedisplay();
}
