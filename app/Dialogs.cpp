#include "Dialogs.h"

#include <QApplication>

namespace {
constexpr UINT kIconMask = 0xF0;
}

QMessageBox::Icon MessageBoxIcon(UINT type) {
    switch (type & kIconMask) {
        case MB_ICONERROR: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONWARNING: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

void InstallMessageBoxHandler() {
    SetMessageBoxHandler([](HWND, const std::string& text, const std::string& caption, UINT type) {
        QMessageBox box(MessageBoxIcon(type), QString::fromStdString(caption), QString::fromStdString(text),
                        QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
        return IDOK;
    });
}
