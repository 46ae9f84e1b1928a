// Checkerboard texture: 4 x 4 squares of 8 x 8 texels, cyan and almost black,
// tiled with repeat wrapping and hard-edged through nearest filtering.
#include "scene.h"

GLuint textureId = 0;

static GLubyte checkerImage[checkerSize][checkerSize][4];

void checkerTexel(int row, int col, GLubyte texel[4])
{
    const int bright = ((row & 8) == 0) ^ ((col & 8) == 0);
    const int v = 255 * bright;

    // dark squares carry red 1, not 0: (v + 1) wraps to 0 on bright squares
    texel[0] = static_cast<GLubyte>((v + 1) % 256);
    texel[1] = static_cast<GLubyte>(v);
    texel[2] = static_cast<GLubyte>(v);
    texel[3] = 255;
}

void buildCheckerImage()
{
    for (int i = 0; i < checkerSize; i++)
        for (int j = 0; j < checkerSize; j++)
            checkerTexel(i, j, checkerImage[i][j]);
}

void initTexture()
{
    buildCheckerImage();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &textureId);
    glBindTexture(GL_TEXTURE_2D, textureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, checkerSize, checkerSize, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 checkerImage);
}
