// Cube model: a 2-unit cube about the origin, drawn one textured polygon per face.
#include "scene.h"

static const GLfloat cubeVertices[8][3] = {
    {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1},
    {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
};

// corner order decides how the board lies on each face; culling is off,
// so winding does not matter
static const int cubeFaces[6][4] = {
    {0, 3, 2, 1}, {2, 3, 7, 6}, {0, 4, 7, 3}, {1, 2, 6, 5}, {4, 5, 6, 7}, {0, 1, 5, 4},
};

void drawFace(int a, int b, int c, int d)
{
    const GLfloat s = texScale;

    glBegin(GL_POLYGON);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3fv(cubeVertices[a]);
    glTexCoord2f(0.0f, s);
    glVertex3fv(cubeVertices[b]);
    glTexCoord2f(s, s);
    glVertex3fv(cubeVertices[c]);
    glTexCoord2f(s, 0.0f);
    glVertex3fv(cubeVertices[d]);
    glEnd();
}

void drawCube()
{
    for (const int *face : cubeFaces)
        drawFace(face[0], face[1], face[2], face[3]);
}
