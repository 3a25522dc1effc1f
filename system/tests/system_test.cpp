// Requesters, URL opening, message boxes without a display, and the date and time texts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <ormix/system/sdl_system.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A scratch folder that is put first on PATH, so that the desktop programs the driver
// starts (requesters, xdg-open) are small scripts that record how they were called.
class DesktopPrograms : public ::testing::Test {
protected:
  void SetUp() override {
    InitSystemModule();
    dir_ = fs::temp_directory_path() / ("ormix-system-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir_.string() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", oldPath_.c_str(), 1);
    fs::remove_all(dir_);
  }
  void Script(const std::string& name, const std::string& body) {
    fs::path p = dir_ / name;
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(p, fs::perms::owner_all);
  }
  fs::path dir_;
  std::string oldPath_;
};

TEST_F(DesktopPrograms, FileRequesterReturnsTheChosenPathOrEmptyOnCancel) {
  if (FindRequesterProgram() == "kdialog") GTEST_SKIP() << "a real kdialog is installed";
  Script("zenity", "for a in \"$@\"; do echo \"$a\"; done > \"" + (dir_ / "args").string() +
                       "\"\necho '/home/me/my file.png'");
  ASSERT_EQ(FindRequesterProgram(), "zenity");
  Text chosen = RequestFile(u"Open a picture", u"Images:png,jpg;All:*", 0, u"/home/me/");
  EXPECT_EQ(ToUtf8(chosen), "/home/me/my file.png");
  EXPECT_EQ(ReadFile(dir_ / "args"),
            "--file-selection\n--title=Open a picture\n--filename=/home/me/\n"
            "--file-filter=Images | *.png *.jpg\n--file-filter=All | *\n");

  Script("zenity", "exit 1");  // the user pressed Cancel
  EXPECT_EQ(RequestFile(u"Save", u"", 1, u""), Text());
  EXPECT_EQ(RequestDir(u"Folder", u"/tmp"), Text());
}

TEST_F(DesktopPrograms, DirectoryRequesterAndSaveMode) {
  if (FindRequesterProgram() == "kdialog") GTEST_SKIP() << "a real kdialog is installed";
  Script("zenity", "for a in \"$@\"; do echo \"$a\"; done > \"" + (dir_ / "args").string() +
                       "\"\necho /srv/data");
  EXPECT_EQ(ToUtf8(RequestDir(u"Pick a folder", u"/srv")), "/srv/data");
  EXPECT_EQ(ReadFile(dir_ / "args"),
            "--file-selection\n--title=Pick a folder\n--directory\n--filename=/srv\n");
  RequestFile(u"Save as", u"png", 1, u"");
  EXPECT_EQ(ReadFile(dir_ / "args"),
            "--file-selection\n--title=Save as\n--save\n--confirm-overwrite\n"
            "--file-filter=png | *.png\n");
}

TEST(Requesters, KdialogCommandLines) {
  using V = std::vector<std::string>;
  EXPECT_EQ(RequesterCommand("kdialog", u"Open", u"Images:png,jpg;Text:txt", 0, u"", false),
            (V{"kdialog", "--title", "Open", "--getopenfilename", ".",
               "*.png *.jpg|Images\n*.txt|Text"}));
  EXPECT_EQ(RequesterCommand("kdialog", u"Save", u"", 1, u"/tmp/a.txt", false),
            (V{"kdialog", "--title", "Save", "--getsavefilename", "/tmp/a.txt"}));
  EXPECT_EQ(RequesterCommand("kdialog", u"Dir", u"", 0, u"/tmp", true),
            (V{"kdialog", "--title", "Dir", "--getexistingdirectory", "/tmp"}));
  EXPECT_TRUE(RequesterCommand("", u"x", u"", 0, u"", false).empty());
}

TEST_F(DesktopPrograms, WithoutARequesterProgramTheResultIsCancel) {
  if (!FindRequesterProgram().empty()) GTEST_SKIP() << "a requester program is installed";
  ::setenv("PATH", dir_.string().c_str(), 1);
  EXPECT_EQ(RequestFile(u"Open", u"", 0, u""), Text());
  EXPECT_EQ(RequestDir(u"Open", u""), Text());
}

TEST_F(DesktopPrograms, OpenURLHandsTheResolvedURLToTheDesktop) {
  fs::path out = dir_ / "opened";
  Script("xdg-open", "echo \"$1\" > \"" + out.string() + ".tmp\" && mv \"" + out.string() +
                         ".tmp\" \"" + out.string() + "\"");
  EXPECT_EQ(OpenURL(u"www.example.com#top"), 1);
  for (int i = 0; i < 200 && !fs::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ReadFile(out), "http:www.example.com#top\n");
}

TEST_F(DesktopPrograms, OpenURLWithoutADesktopOpenerFails) {
  ::setenv("PATH", dir_.string().c_str(), 1);
  EXPECT_EQ(OpenURL(u"http://example.com/"), 0);
}

TEST(URLs, ResolveURLKeepsSchemesAndFindsLocalFiles) {
  fs::path dir = fs::temp_directory_path() / ("ormix-url-" + std::to_string(::getpid()));
  fs::create_directories(dir / "docs");
  std::ofstream(dir / "docs" / "page.html") << "x";
  fs::path old = fs::current_path();
  fs::current_path(dir);
  struct Case {
    const char16_t* in;
    std::string out;
  };
  const Case cases[] = {
      {u"http://a.org/x#y", "http://a.org/x#y"},
      {u"HTTP://A.org", "HTTP://A.org"},
      {u"File:/etc/hosts", "File:/etc/hosts"},
      {u"docs/page.html#intro", "file:" + (dir / "docs" / "page.html").string() + "#intro"},
      {u"docs/../docs/page.html", "file:" + (dir / "docs" / "page.html").string()},
      {u"www.example.com", "http:www.example.com"},
      {u"missing.html#a#b", "http:missing.html#a#b"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToUtf8(ResolveURL(c.in)), c.out) << ToUtf8(c.in);
  fs::current_path(old);
  fs::remove_all(dir);
}

TEST(DateAndTime, TextsHaveTheirFixedFormats) {
  Text date = DateText();
  Text time = TimeText();
  EXPECT_TRUE(std::regex_match(ToUtf8(date), std::regex(R"(\d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4})")))
      << ToUtf8(date);
  EXPECT_TRUE(std::regex_match(ToUtf8(time), std::regex(R"(([01]\d|2[0-3]):[0-5]\d:[0-5]\d)")))
      << ToUtf8(time);
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  EXPECT_EQ(ToUtf8(date).substr(7), std::to_string(tm.tm_year + 1900));
}

// A message box that cannot be shown reports its failure result instead of blocking.
// Run in a child process with no display, so that no box can appear.
TEST(MessageBoxes, WithoutADisplayTheyReturnTheirFailureResult) {
#if defined(__SANITIZE_ADDRESS__)
  // A forked child that starts SDL can stall inside the sanitizer's runtime; the plain
  // build runs this case.
  GTEST_SKIP() << "not run under AddressSanitizer";
#endif
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("PATH", "/nonexistent", 1);
    ::alarm(20);
    InitSystemModule();
    Notify(u"hello", 1);
    int c = Confirm(u"sure?");
    int p = Proceed(u"go on?", 1);
    ::_exit(c == 0 && p == 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the child was killed (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
