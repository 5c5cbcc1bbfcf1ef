// Quorvel: one copy per user runs the main window; a later start raises it and ends.
#include <QApplication>

#include "app/quorvel_app.h"
#include "app_icon.h"
#include "qt_dialog_view.h"
#include "qt_instance_channel.h"
#ifdef QUORVEL_LINEDB
#include "linedb/line_client.h"
#endif

#if defined(__SANITIZE_ADDRESS__)
// Font configuration and Qt keep process-lifetime caches that the leak checker would report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libQt6Core\n";
}
#endif

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CQuorvelApp app;
#ifdef QUORVEL_LINEDB
    linedb::LineClient line;
    app.SetLineServices(&line);
#endif
    QApplication::setApplicationName(QString::fromStdString(app.ProgramName()));
    QApplication::setWindowIcon(QuorvelIcon());
    QtDialogView view;
    QtInstanceChannel channel(app.ProgramName());
    return app.Run(view, channel);
}
