// Benchmark baseline: checkercube's window, display mode, console start-up and
// event loop, with a frame that only clears and swaps. It marks the most that
// this GL stack delivers for a window of a given size.
//
// With --gl-info it prints the GL vendor, renderer and version and exits.
#include "dialogue.h"

#include <GL/glut.h>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

static void drawFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}

static void idle()
{
    glutPostRedisplay();
}

static int printGlInfo(int argc, char **argv)
{
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("gl-info");
    for (GLenum name : {GL_VENDOR, GL_RENDERER, GL_VERSION})
        std::printf("%s\n", reinterpret_cast<const char *>(glGetString(name)));
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[argc - 1], "--gl-info") == 0)
        return printGlInfo(argc - 1, argv);

    if (isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IONBF, 0);

    char answer[64] = "";
    const int x = askAnswer("x: ", stdin, stdout, answer, sizeof answer);
    const int y = askAnswer("y: ", stdin, stdout, answer, sizeof answer);
    const int size = askAnswer("size: ", stdin, stdout, answer, sizeof answer);

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(size, size);
    glutInitWindowPosition(x, y);
    glutCreateWindow("Checker Cube baseline");
    glutDisplayFunc(drawFrame);
    glutIdleFunc(idle);
    glutMainLoop();
    return 0;
}
