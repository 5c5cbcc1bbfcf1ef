// Quorvel: one copy per user runs the main window; a later start raises it and ends.
#include <QApplication>

#include "app/quorvel_app.h"
#include "qt_dialog_view.h"
#include "qt_instance_channel.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CQuorvelApp app;
    QApplication::setApplicationName(QString::fromStdString(app.ProgramName()));
    QtDialogView view;
    QtInstanceChannel channel(app.ProgramName());
    return app.Run(view, channel);
}
