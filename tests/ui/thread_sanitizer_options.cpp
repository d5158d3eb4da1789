// Qt's libraries are not built with ThreadSanitizer. The work they hand to their own thread pools (image
// conversion while a window paints) is synchronised inside them, out of the sanitizer's sight, so the copies
// and frees it watches them make read as races. Only what is built here is watched, in this program.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif
