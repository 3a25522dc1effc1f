#pragma once
// The DirectX 7 2D renderer: draws through a software DirectDraw/Direct3D 7 device into
// SDL windows, so its output is the same on every machine. Its classes are internal
// (d3d7renderer.h); it is reached through these entry points or by name
// (<ormix/graphics/renderers/renderers.h>).
#include <ormix/graphics/draw2d.h>

// The renderer (one instance), or null when the DirectX 7 driver cannot be made.
TVex2DDriver* DirectX7Renderer();
// Registers the renderer; selects it (default flags 2) when it is available. Idempotent.
void InitD3D7Module();
