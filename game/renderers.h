#pragma once
// The game's two renderers: the hardware one (renderer option 0: OpenGL on the desktop,
// the shader renderer in the browser) and the software one (option 1, DirectX7Renderer).
class TGraphicsDriver;

// Starts the renderers' modules.
void InitGameRenderers();
TGraphicsDriver* HardwareRenderer();
