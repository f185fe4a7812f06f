// What the sanitizers of a sanitized build need to know about the libraries the tests run with.
// Every test program links this file (pellix_add_test asks for g_iPellixSanitizerOptions; the
// sanitizers' own names are defined by their run time too, which would do instead), whichever
// sanitizer, if any, the build has: the functions are only called by a sanitizer's run time.
#include <unistd.h>

#include <cstdlib>

extern "C" const int g_iPellixSanitizerOptions = 1;

// Whole allocation stacks (GLib is built without frame pointers), so that the leak suppression
// can tell GLib's constructor from everything else.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

// GLib allocates once in its library constructor and keeps it for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:_dl_init\n";
}

// What GLib and GStreamer do among themselves is left out (tests/tsan.supp).
extern "C" const char* __tsan_default_options()
{
    return "suppressions=" PELLIX_SOURCE_DIR "/tests/tsan.supp";
}

#if defined(__SANITIZE_THREAD__)
namespace
{
// GLib's slice allocator hands memory from thread to thread through caches of its own, which the
// race detector cannot see: fields of a GstBuffer written by one thread and, in a later buffer at
// the same place, by another would look like a race. With the slices taken from malloc every
// buffer is a new allocation to it. GLib reads the choice once, early, so the test program starts
// itself again with it.
__attribute__((constructor)) void local_SliceFromMalloc(int /*iArgc*/, char** aszArgv)
{
    if (getenv("G_SLICE") != nullptr)
        return;
    setenv("G_SLICE", "always-malloc", 1);
    execv("/proc/self/exe", aszArgv);
}
} // namespace
#endif
