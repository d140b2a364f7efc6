#include "ProgramUnits.h"

#include <GraphicFormats.h>
#include <System.h>
#include <ZorDX_Geometry.h>
#include <ZorDX_Render.h>

#include "DirectInput8.h"

void StartProgramUnits() {
    // The framework registers its own picture classes before the image
    // library adds its readers, so the library's registrations come first.
    InitializeUnit("Graphics", InitializeFrameworkGraphics, {});
    InitializeUnit("GraphicFormats", GraphicFormatsInitialization, GraphicFormatsFinalization);
    InitializeUnit("Direct3D8", Direct3D8Initialization, Direct3D8Finalization);
    InitializeUnit("ZorDX_Geometry", ZorDX_GeometryInitialization, {});
    InitializeUnit("ZorDX_Render", ZorDX_RenderInitialization, ZorDX_RenderFinalization);
    InitializeUnit("DirectInput8", DirectInput8Initialization, DirectInput8Finalization);
}
