// Qt's own libraries are not instrumented: what their thread pools synchronise inside them reads as races.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif
