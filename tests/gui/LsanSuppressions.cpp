// Leaks inside system libraries the desktop tests load (fontconfig's caches), not in this
// program. Compiled into the test program itself: a suppressions file would have to reach
// every discovered test through its environment.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
