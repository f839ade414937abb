// Linked into the programs that draw with Qt when the sanitizers are on: the font configuration
// library keeps a cache it never frees, which the leak checker would report at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
