// Sanitizer settings of the simulator, read only by sanitizer builds. Qt hands some image work to
// a thread pool of its own and synchronises it inside its uninstrumented code, so the memory calls
// Qt makes there look racy to ThreadSanitizer; the program's threads never share a Qt object, so
// nothing of the program is hidden by this. fontconfig keeps its configuration for the life of
// the process.
extern "C" __attribute__((used)) const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}

extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
