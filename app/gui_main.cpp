// The window program: one window, no command-line arguments, exit code 0.
#include "app/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    modtext::MessageBoxReporter reporter;
    modtext::MainWindow window(instance, reporter);
    window.build_controls();
    window.run();
    return 0;
}
