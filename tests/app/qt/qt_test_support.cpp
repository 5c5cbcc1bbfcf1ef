#include "qt_test_support.h"

#include <QApplication>

#if defined(__SANITIZE_ADDRESS__)
// Font configuration and Qt keep process-lifetime caches that the leak checker would report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libQt6Core\n";
}
#endif

namespace qttest {

void UseOffscreenApplication(const char* name) {
    if (QApplication::instance() != nullptr)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static std::string program = name;
    static char* argv[] = {program.data(), nullptr};
    new QApplication(argc, argv);
}

}  // namespace qttest
