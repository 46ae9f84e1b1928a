// checkercube: asks on the console where its window goes and how large it is,
// then spins a checkerboard-textured cube until Quit is chosen from the
// right-button menu.
#include "dialogue.h"
#include "input.h"
#include "scene.h"

#include <GL/glut.h>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    // a standard stream closed at start leaves its descriptor free for the X
    // connection that glutInit opens, and console writes would then go into
    // that socket and wreck the protocol; /dev/null holds the place instead
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", O_RDWR);

    // a prompt has no line break, so on a terminal it must not wait in a buffer;
    // redirected output keeps full buffering and is written out at exit
    if (isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IONBF, 0);

    // empty, so that input ending before the first answer gives 0
    char answer[64] = "";
    const int x =
        askAnswer("Please enter the x-position(1-500 max): ", stdin, stdout, answer, sizeof answer);
    const int y =
        askAnswer("Please enter the y-position(1-200 max): ", stdin, stdout, answer, sizeof answer);
    const int size =
        askAnswer("Please enter window size(100-500): ", stdin, stdout, answer, sizeof answer);

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(size, size);
    glutInitWindowPosition(x, y);
    glutCreateWindow("Checker Cube");
    glutDisplayFunc(renderFrame);
    glutIdleFunc(advanceSpin);
    initInput();
    initScene();
    glutMainLoop();
    return 0;
}
