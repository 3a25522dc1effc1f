#pragma once
// OpenGL on SDL2: the platform graphics driver (windows and GL contexts sharing one hidden
// context), the OpenGL 2D renderer and a few stand-alone helpers for code that draws with
// raw OpenGL. The renderer's own classes are internal (glrenderer.h).
#include <cstdint>
#include <memory>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/runtime/text.h>

struct SDL_Window;

// The platform OpenGL graphics driver (one instance, made on first use).
TGraphicsDriver* OpenGLGraphicsDriver();
// Makes the hidden shared context current when it is not; otherwise makes the current
// graphics context's GL context current again (or none). Texture creation and deletion
// are bracketed by two calls so textures belong to the shared context.
void SwapSharedContext();
// The SDL window of a platform GL context (null for other contexts).
SDL_Window* GLGraphicsWindow(const TGraphicsPtr& g);
// Whether the hidden shared context exists (textures can only exist after it).
bool GLContextAlive();

// The OpenGL 2D renderer (one instance, made on first use).
TVex2DDriver* OpenGLRenderer();

// Registers the OpenGL drivers and selects the renderer; idempotent.
void InitOpenGLModule();

// Stand-alone helpers for raw OpenGL drawing into a context.
void GLBegin2D();
void GLEnd2D();
void GLDrawRect(int x, int y, int width, int height);
void GLDrawPixmap(const TPixmapPtr& pixmap, int x, int y);
uint32_t GLTexFromPixmap(const TPixmapPtr& pixmap, bool mipmapped);
void GLDrawText(const Text& text, int x, int y);
