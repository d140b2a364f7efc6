// The program entry: the units start before the window exists and end in
// reverse when the message loop is over.
#include <clocale>

#include <System.h>

#include "Dialogs.h"
#include "Forms.h"
#include "ProgramUnits.h"
#include "Unit1.h"

int main(int argc, char** argv) {
    // Numbers are read and shown with the user's decimal separator.
    std::setlocale(LC_ALL, "");
    StartProgramUnits();

    TApplication application(argc, argv);
    InstallMessageBoxHandler();
    Form1 = new TForm1;
    Form1->show();
    const int exitCode = application.exec();
    // The panel goes before the device that presents into it is released.
    delete Form1;
    Form1 = nullptr;
    FinalizeUnits();
    return exitCode;
}
