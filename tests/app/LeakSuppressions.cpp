// Caches that the desktop libraries keep for the life of the process (the MIME database, fonts,
// the session bus, GTK's type system) are never freed by design; LeakSanitizer is told so.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libgio-2.0.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libX11.so\n"
           "leak:libatk-bridge-2.0.so\n"
           "leak:libwx_gtk3u_core-3.2.so\n"
           "leak:libwx_baseu-3.2.so\n";
}
