// The units' start steps, run by the program entry before the window exists.
#pragma once

// Starts the units in the order the program depends on them: the picture
// formats, the Direct3D runtime, the clock, the render unit and DirectInput.
// FinalizeUnits ends them in reverse.
void StartProgramUnits();
