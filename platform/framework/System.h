// Unit start and end steps. The program entry starts the units in order;
// their end steps run in reverse at the end, or at once from Halt.
#pragma once

#include <functional>
#include <string>

// Runs start (if any) and records end (if any) to run at FinalizeUnits.
void InitializeUnit(const std::string& name, const std::function<void()>& start,
                    std::function<void()> end);

// Runs the recorded end steps, last first, and forgets them.
void FinalizeUnits();

// Ends the program at once: only the units' end steps run.
[[noreturn]] void Halt(int exitCode = 0);

// The framework's plain message dialog (MessageBoxA with the application
// title as caption and an OK button).
void ShowMessage(const std::string& text);

// Registers the framework's own picture classes with TPicture ("bmp",
// "ico", "jpg", "jpeg", and "wmf" and "emf"), as the framework does on start.
// The metafile classes register through RegisterMetafileFormats(), declared
// in Metafile.h.
void InitializeFrameworkGraphics();
