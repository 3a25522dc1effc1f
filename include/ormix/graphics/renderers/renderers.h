#pragma once
// The 2D renderers chosen by name, from one table (renderers.cpp) with a line per renderer.
// A name is the renderer's table name or alias ("opengl"; "directx7" or "d3d7") or its
// ToString() ("OpenGL", "DirectX7"), case ignored.
#include <vector>

#include <ormix/graphics/draw2d.h>
#include <ormix/runtime/text.h>

// One renderer of the table.
struct TRendererEntry {
  const char* name;   // the name traces and users give
  const char* alias;  // another accepted name, or null
  void (*InitModule)();
  TVex2DDriver* (*Renderer)();  // the instance; null when this machine cannot run it
};

// Starts each renderer's module in table order (each may select its renderer as it
// starts, so the last available one that does is current). Idempotent.
void InitRendererModules();
// The renderer of that name, or null when no renderer has the name or it cannot run on
// this machine. Starts the renderer modules first.
TVex2DDriver* FindRenderer(const Text& name);
// The table name of a renderer ("" for null or a driver that is not in the table).
Text RendererName(const TGraphicsDriver* renderer);
// The table's names, in order.
std::vector<Text> RendererNames();
