#pragma once
// Fixture of the tests that draw through the OpenGL renderer: skipped without a display
// (failed in CI, see skip_or_fail.h), otherwise the renderer is in use; the screen a test
// opens is closed after it.
#include <gtest/gtest.h>

#include <ormix/graphics/graphics.h>
#include <ormix/graphics/opengl/opengl.h>

#include "testsupport/skip_or_fail.h"
#include "testsupport/testsupport.h"

class TGLScreenTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveDisplay()) ORMIX_SKIP_OR_FAIL() << "no X display (run under xvfb-run)";
    InitOpenGLModule();
    UseGraphicsDriver(OpenGLRenderer(), GFX_BACKBUFFER);
  }
  void TearDown() override {
    if (HaveDisplay()) CloseScreen();
  }
};
