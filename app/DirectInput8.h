// The DirectInput unit: the runtime is loaded at start and unloaded at the
// end; the program never calls it.
#pragma once

#include <Windows.h>

extern HMODULE DInput8Module;
// The runtime's entry, or null when the runtime is missing.
extern FARPROC DirectInput8Create;

void DirectInput8Initialization();
void DirectInput8Finalization();
