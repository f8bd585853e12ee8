// The converter as the build runs it: files in, files out, exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Dir() { return ::testing::TempDir(); }

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f << data;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

int RunConv(const std::string& args) {
  std::string cmd = std::string(FORMCONV_EXE) + " " + args + " 2>/dev/null";
  int rc = std::system(cmd.c_str());
  return WEXITSTATUS(rc);
}

const char kForm[] =
    "object frmNew: TfrmNew\r\n"
    "  Caption = 'New Snapshot'\r\n"
    "  ClientWidth = 320\r\n"
    "  OnCreate = FormCreate\r\n"
    "  object sgScene1: TsgScene\r\n"
    "    Style = frmManager.sgResources1\r\n"
    "  end\r\n"
    "end\r\n";

TEST(FormConv, TextToBinaryAndBackIsExact) {
  std::string txt = Dir() + "fc_form.txt", bin = Dir() + "fc_form.bin",
              back = Dir() + "fc_back.txt";
  WriteFile(txt, kForm);
  ASSERT_EQ(RunConv(txt + " " + bin), 0);
  std::string b = ReadFile(bin);
  ASSERT_GE(b.size(), 4u);
  EXPECT_EQ(b.substr(0, 4), "TPF0");
  EXPECT_NE(b.find("\x07TfrmNew\x06"
                   "frmNew"),
            std::string::npos);
  ASSERT_EQ(RunConv("--to-text " + bin + " " + back), 0);
  EXPECT_EQ(ReadFile(back), kForm);
}

TEST(FormConv, ErrorsLeaveNoOutputAndFail) {
  std::string txt = Dir() + "fc_bad.txt", bin = Dir() + "fc_bad.bin";
  std::remove(bin.c_str());
  WriteFile(txt, "object x: TX\r\n  Caption 'no equals'\r\nend\r\n");
  EXPECT_EQ(RunConv(txt + " " + bin), 1);
  EXPECT_FALSE(std::ifstream(bin).good());
  EXPECT_EQ(RunConv(Dir() + "fc_missing.txt " + bin), 2);
  EXPECT_EQ(RunConv(txt), 2);
}

}  // namespace
