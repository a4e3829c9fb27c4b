// Linked into every program of the sanitized build (cmake/Sanitize.cmake), and only there: a
// library loaded at run time stays loaded until the process ends.
//
// LeakSanitizer looks for leaks once the program has finished and names each frame of a leak's
// stack by the module it lies in. By then libEGL and libGLX have closed the GL driver they opened
// (swrast_dri.so), SDL its audio back end and the dialog its helpers, so a block still held inside
// one of them is reported as "(<unknown module>)", which no suppression can match: whether such a
// run passes then depends on which packages the machine happens to have. Kept loaded, the frames
// name their library and scripts/lsan.supp judges them like any other system library's.
//
// An executable comes first in the global lookup scope, so this definition answers every
// library's dlclose, ahead of the C library's and the sanitizer runtime's (which only notes the
// unload). Loading the same library again gives the same handle, as it would without this.

int dlclose(void* handle) {
  (void)handle;
  return 0;
}
