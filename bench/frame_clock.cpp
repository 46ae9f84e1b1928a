// Frame clock: an LD_PRELOAD library for the benchmark. It counts buffer swaps
// and timestamps the start-up calls, keeping one fixed-size text record in the
// file that BENCH_RECORD names, rewritten in place so that a run ended by a
// signal still leaves its latest numbers behind.
#include <GL/gl.h>
#include <GL/glut.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// swaps before this one carry start-up costs (shader compilation, first
// uploads); the frame rate is taken from here on
const std::uint64_t warmSwaps = 10;
const std::uint64_t flushIntervalNs = 50000000;

enum Field {
    fieldSwaps,
    fieldWarmSwaps,
    fieldGlutInitBegin,
    fieldQueryExtension,
    fieldQueryExtensionsString,
    fieldGlutInit,
    fieldChooseConfig,
    fieldCreateContext,
    fieldMakeCurrent,
    fieldCreateWindow,
    fieldAttachMenu,
    fieldTexImageBegin,
    fieldTexImage,
    fieldMainLoop,
    fieldFirstSwapBegin,
    fieldFirstSwap,
    fieldWarm,
    fieldLast,
    fieldCount
};

// keys ending in _ns are CLOCK_MONOTONIC readings, comparable across processes;
// for calls made more than once, the first return counts
const char *const fieldNames[fieldCount] = {
    "swaps",
    "warm_swaps",
    "glutInit_begin_ns",
    "glXQueryExtension_ns",
    "glXQueryExtensionsString_ns",
    "glutInit_ns",
    "glXChooseFBConfig_ns",
    "glXCreateNewContext_ns",
    "glXMakeContextCurrent_ns",
    "glutCreateWindow_ns",
    "glutAttachMenu_ns",
    "glTexImage2D_begin_ns",
    "glTexImage2D_ns",
    "glutMainLoop_ns",
    "first_swap_begin_ns",
    "first_swap_ns",
    "warm_ns",
    "last_ns",
};

std::uint64_t fields[fieldCount];
int recordFd = -1;
std::uint64_t lastFlush;

std::uint64_t now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

// "name value\n" lines with zero-padded values: every rewrite has the same
// length, so a reader never sees a tail left from an earlier one
void flushRecord()
{
    if (recordFd < 0)
        return;
    char buf[fieldCount * 48];
    char *p = buf;
    for (int f = 0; f < fieldCount; f++) {
        for (const char *n = fieldNames[f]; *n; n++)
            *p++ = *n;
        *p++ = ' ';
        std::uint64_t v = fields[f];
        for (int d = 19; d >= 0; d--) {
            p[d] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        p += 20;
        *p++ = '\n';
    }
    ssize_t ignored = pwrite(recordFd, buf, static_cast<std::size_t>(p - buf), 0);
    (void)ignored;
}

void markFirst(Field f)
{
    if (fields[f] == 0)
        fields[f] = now();
}

template <typename Fn> Fn next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void openRecord()
{
    fields[fieldWarmSwaps] = warmSwaps;
    if (const char *path = std::getenv("BENCH_RECORD"))
        recordFd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

__attribute__((destructor)) void closeRecord()
{
    flushRecord();
}

} // namespace

extern "C" {

void glutInit(int *argc, char **argv)
{
    static auto real = next<void (*)(int *, char **)>("glutInit");
    fields[fieldGlutInitBegin] = now();
    real(argc, argv);
    fields[fieldGlutInit] = now();
}

int glutCreateWindow(const char *title)
{
    static auto real = next<int (*)(const char *)>("glutCreateWindow");
    const int id = real(title);
    fields[fieldCreateWindow] = now();
    return id;
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const void *pixels)
{
    static auto real =
        next<void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void *)>(
            "glTexImage2D");
    markFirst(fieldTexImageBegin);
    real(target, level, internalFormat, width, height, border, format, type, pixels);
    markFirst(fieldTexImage);
}

void glutAttachMenu(int button)
{
    static auto real = next<void (*)(int)>("glutAttachMenu");
    real(button);
    markFirst(fieldAttachMenu);
}

Bool glXQueryExtension(Display *dpy, int *errorBase, int *eventBase)
{
    static auto real = next<Bool (*)(Display *, int *, int *)>("glXQueryExtension");
    const Bool r = real(dpy, errorBase, eventBase);
    markFirst(fieldQueryExtension);
    return r;
}

// the first GLX query that needs the screen loads Mesa's driver
const char *glXQueryExtensionsString(Display *dpy, int screen)
{
    static auto real = next<const char *(*)(Display *, int)>("glXQueryExtensionsString");
    const char *r = real(dpy, screen);
    markFirst(fieldQueryExtensionsString);
    return r;
}

GLXFBConfig *glXChooseFBConfig(Display *dpy, int screen, const int *attribs, int *count)
{
    static auto real =
        next<GLXFBConfig *(*)(Display *, int, const int *, int *)>("glXChooseFBConfig");
    GLXFBConfig *r = real(dpy, screen, attribs, count);
    markFirst(fieldChooseConfig);
    return r;
}

GLXContext glXCreateNewContext(Display *dpy, GLXFBConfig config, int type, GLXContext share,
                               Bool direct)
{
    static auto real =
        next<GLXContext (*)(Display *, GLXFBConfig, int, GLXContext, Bool)>("glXCreateNewContext");
    const GLXContext r = real(dpy, config, type, share, direct);
    markFirst(fieldCreateContext);
    return r;
}

Bool glXMakeContextCurrent(Display *dpy, GLXDrawable draw, GLXDrawable read, GLXContext ctx)
{
    static auto real =
        next<Bool (*)(Display *, GLXDrawable, GLXDrawable, GLXContext)>("glXMakeContextCurrent");
    const Bool r = real(dpy, draw, read, ctx);
    markFirst(fieldMakeCurrent);
    return r;
}

void glutMainLoop()
{
    static auto real = next<void (*)()>("glutMainLoop");
    fields[fieldMainLoop] = now();
    real();
}

void glXSwapBuffers(Display *dpy, GLXDrawable drawable)
{
    static auto real = next<void (*)(Display *, GLXDrawable)>("glXSwapBuffers");
    const std::uint64_t begin = now();
    real(dpy, drawable);
    const std::uint64_t t = now();

    const std::uint64_t n = ++fields[fieldSwaps];
    fields[fieldLast] = t;
    if (n == 1) {
        fields[fieldFirstSwapBegin] = begin;
        fields[fieldFirstSwap] = t;
    }
    if (n == warmSwaps)
        fields[fieldWarm] = t;
    if (n == 1 || n == warmSwaps || t - lastFlush >= flushIntervalNs) {
        lastFlush = t;
        flushRecord();
    }
}
}
