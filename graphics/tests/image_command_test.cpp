// The ormix image subcommands, run as a user would run them.
#include <gtest/gtest.h>
#include "testsupport/skip_or_fail.h"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <ormix/graphics/pixmap.h>

#include "testsupport/testsupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kOrmix = OrmixTool();
const std::string kImages = std::string(ORMIX_CORPUS_DIR) + "/images";

using TRun = TCommandResult;

class ImageCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kOrmix)) ORMIX_SKIP_OR_FAIL() << kOrmix << " not built";
    if (!fs::is_directory(kImages)) ORMIX_SKIP_OR_FAIL_CORPUS() << "corpus not found at " << kImages;
    InitPixmapModule();
  }
};

TEST_F(ImageCommand, InfoPrintsSizeAndFormat) {
  struct Case {
    const char* file;
    const char* out;
  } cases[] = {
      {"rgba8.png", "width: 45\nheight: 41\nformat: PIXFMT_RGBA8888\n"},
      {"grey8.png", "width: 185\nheight: 185\nformat: PIXFMT_I8\n"},
      {"photo.jpg", "width: 256\nheight: 256\nformat: PIXFMT_RGB888\n"},
      {"palette8.bmp", "width: 32\nheight: 32\nformat: PIXFMT_BGR888\n"},
      {"image.tga", "width: 256\nheight: 256\nformat: PIXFMT_RGB888\n"},
  };
  for (const Case& c : cases) {
    TRun r = RunOrmix("image info '" + kImages + "/" + c.file + "'");
    EXPECT_EQ(r.status, 0) << c.file;
    EXPECT_EQ(r.out, c.out) << c.file;
  }
}

TEST_F(ImageCommand, ConvertWritesAnRgbaPng) {
  const std::string out = (fs::temp_directory_path() / ("ormix_convert_" + std::to_string(getpid()) + ".png")).string();
  for (const char* file : {"photo.jpg", "image.tga", "grey8.png", "palette8.bmp"}) {
    TRun r = RunOrmix("image convert '" + kImages + "/" + file + "' '" + out + "'");
    ASSERT_EQ(r.status, 0) << file << ": " << r.out;
    TPixmapPtr in = OpenPixmap(kImages + "/" + file);
    TPixmapPtr png = OpenPixmap(out);
    ASSERT_NE(png, nullptr) << file;
    EXPECT_EQ(png->format, PIXFMT_RGBA8888) << file;
    ASSERT_EQ(png->width, in->width);
    ASSERT_EQ(png->height, in->height);
    for (int y = 0; y < in->height; ++y)
      for (int x = 0; x < in->width; ++x) ASSERT_EQ(png->ReadPixel(x, y), in->ReadPixel(x, y)) << file;
  }
  fs::remove(out);
}

TEST_F(ImageCommand, FailuresNameTheFile) {
  TRun r = RunOrmix("image info /etc/hostname");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ormix: cannot decode image '/etc/hostname'\n");
  r = RunOrmix("image convert /nonexistent.png /tmp/x.png");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("/nonexistent.png"), std::string::npos);
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);
  r = RunOrmix("image convert '" + kImages + "/rgb8.png' /nonexistent/dir/out.png");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("/nonexistent/dir/out.png"), std::string::npos);
  EXPECT_EQ(RunOrmix("image").status, 1);
  EXPECT_EQ(RunOrmix("image info").status, 1);
}

}  // namespace
