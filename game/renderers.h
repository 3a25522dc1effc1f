#pragma once
// The game's renderers: the hardware one (renderer option 0: OpenGL on the desktop, the
// shader renderer in the browser), the software one (option 1, DirectX7Renderer) and the
// others by the names the trace and ZINGLE_RENDERER use.
#include <string>

class TGraphicsDriver;
class TVex2DDriver;

// Starts the renderers' modules.
void InitGameRenderers();
TGraphicsDriver* HardwareRenderer();
// The renderer of that name ("opengl", "directx7", "gles2"), null for a name not built in.
TVex2DDriver* RendererNamed(const std::string& name);
// The name of a renderer; the hardware renderer's name for one not in the list.
const char* RendererName(TGraphicsDriver* driver);
