// Shows that the sanitizer build's leak suppressions leave our own leaks
// reported. Starts a Qt GUI application on the offscreen platform (whose own
// allocations are suppressed) and, as the argument asks, leaks nothing, or
// 4242 bytes from main, or 4242 bytes from a slot that Qt's event loop calls
// (a stack with Qt's frames above ours).
#include <cstring>

#include <QGuiApplication>
#include <QTimer>

namespace {

char* volatile g_sink = nullptr;

__attribute__((noinline)) void LeakOnPurpose()
{
    g_sink = new char[4242];
    std::memset(g_sink, 1, 4242);
    g_sink = nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "none";
    QGuiApplication app(argc, argv);
    if (std::strcmp(mode, "main") == 0)
        LeakOnPurpose();
    if (std::strcmp(mode, "slot") == 0)
        QTimer::singleShot(0, &app, [] { LeakOnPurpose(); });
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
