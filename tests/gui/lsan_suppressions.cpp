// LeakSanitizer's default suppressions for the window tests: fontconfig keeps its font cache
// until the process ends, by design, and Qt's font database hands it out.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
