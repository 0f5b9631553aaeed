// QARDEL: the program's start.
#include "ui/common/Guard.h"
#include "ui/common/MessageBox.h"
#include "ui/main/uMain.h"
#include "ui/rig/StationLink.h"

int main(int argc, char** argv) {
    qardel::QardelApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("QARDEL"));
    app.setQuitOnLastWindowClosed(true);
    qardel::TfMain fMain;
    if (!fMain.fatalError().isEmpty()) {
        // Nothing was written: the data folder stays as it was found.
        qardel::msg::error(fMain.fatalError());
        return 1;
    }
    // the radio and WSJT-X, seen in the status bar
    qardel::StationLink station(&fMain);
    fMain.show();
    return app.exec();
}
