// Message boxes of the platform layer shown as Qt message boxes.
#pragma once

#include <QMessageBox>

#include <Windows.h>

// The Qt icon for the icon bits of a message-box type.
QMessageBox::Icon MessageBoxIcon(UINT type);

// Routes every MessageBoxA of the program (the engine's, the framework's
// plain message dialog, escaped errors) to a modal Qt message box.
void InstallMessageBoxHandler();
