#pragma once
// What the shader renderer needs from its platform driver beyond the public header.
struct SDL_Window;

// Whether the contexts are OpenGL ES (GLSL ES shaders) rather than desktop OpenGL 2.1.
bool GLES2ContextIsES();

// While it lives, a context of the shader renderer's share group is current: the one that
// was, or else the hidden shared context (restoring the previous one at the end). ok() is
// false when there is none to make current: GL objects must then be left alone.
class TGLES2ContextScope {
public:
  TGLES2ContextScope();
  ~TGLES2ContextScope();
  TGLES2ContextScope(const TGLES2ContextScope&) = delete;
  TGLES2ContextScope& operator=(const TGLES2ContextScope&) = delete;
  bool ok() const { return _ok; }

private:
  bool _ok = false;
  bool _switched = false;
  SDL_Window* _window = nullptr;
  void* _context = nullptr;
};
