// Program entry: one instance per user, the main window, the message loop.
#include <memory>

#include "About.h"
#include "MainZunt.h"
#include "MyAppLibs.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(ProgramName));
    if (!CheckSingleInstance(ProgramName))
        return 0;
    // Made before the main window and freed two seconds after the loop starts; never shown.
    auto splash = std::make_unique<TAboutForm>();
    TMainForm form;
    SetInstanceMainWindow(&form);
    form.SetSplash(std::move(splash));
    form.show();
    return QApplication::exec();
}
