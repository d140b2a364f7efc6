#include "DirectInput8.h"

HMODULE DInput8Module = nullptr;
FARPROC DirectInput8Create = nullptr;

void DirectInput8Initialization() {
    DInput8Module = LoadLibraryA("DInput8.dll");
    DirectInput8Create = GetProcAddress(DInput8Module, "DirectInput8Create");
}

void DirectInput8Finalization() {
    DirectInput8Create = nullptr;
    if (DInput8Module) FreeLibrary(DInput8Module);
    DInput8Module = nullptr;
}
