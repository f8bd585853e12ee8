// Resources, message boxes, the clipboard and threads.
#include <gtest/gtest.h>

#include <atomic>

#include "classlib/clipbrd.h"
#include "classlib/dialogs.h"
#include "classlib/resources.h"
#include "classlib/threads.h"
#include "test_support.h"

namespace kelm::test {
namespace {

TEST(Resources, StringTableGivesUtf16Text) {
  EXPECT_EQ(LoadStr(65200), u"Please input the name\uFF1A");
  EXPECT_EQ(LoadStr(65201), u"");
}

TEST(Resources, ProgramFileAndFolder) {
  std::u16string folder = ExeFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), u'\\');
  EXPECT_EQ(ExeName().compare(0, folder.size(), folder), 0);
  EXPECT_NE(ExeName().find(u"classlib_win32"), std::u16string::npos);
}

TEST(Resources, NamedStreamsAreFoundWithoutCase) {
  EXPECT_TRUE(HasRCData(HInstance(), u"teststylebook"));
  EXPECT_TRUE(HasRCData(HInstance(), u"TTESTMAINFORM"));
  EXPECT_FALSE(HasRCData(HInstance(), u"NOSUCHFORM"));
  EXPECT_THROW(OpenRCData(HInstance(), u"NOSUCHFORM"), EResNotFound);
  auto stream = OpenRCData(HInstance(), u"TestStyleBook");
  char sig[4];
  stream->ReadBuffer(sig, 4);
  EXPECT_EQ(std::string(sig, 4), "TPF0");
  EXPECT_THROW(stream->WriteBuffer("x", 1), EStreamError);
  // Read into an existing component.
  TComponent* book = New<TComponent>(nullptr);
  EXPECT_TRUE(ReadComponentRes(u"TESTSTYLEBOOK", book));
  EXPECT_EQ(book->Tag(), 5);
  Free(book);
}

TEST(MessageBoxes, OneReplaceableEntryGetsOwnerTextCaptionAndFlags) {
  MessageBoxRecorder rec(IDCANCEL);
  EXPECT_EQ(ShowMessageBox(nullptr, u"Hello", u"Warning", MB_ICONERROR | MB_TOPMOST), IDCANCEL);
  EXPECT_EQ(Application->MessageBox(u"Second", u"Tips", MB_OKCANCEL), IDCANCEL);
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[0].owner, nullptr);
  EXPECT_EQ(rec.boxes[0].text, u"Hello");
  EXPECT_EQ(rec.boxes[0].caption, u"Warning");
  EXPECT_EQ(rec.boxes[0].flags, static_cast<UINT>(MB_ICONERROR | MB_TOPMOST));
  EXPECT_EQ(rec.boxes[1].owner, Application->Handle());
}

TEST(ApplicationWindow, IsHiddenTitledAndOwnsForms) {
  HWND app = Application->Handle();
  ASSERT_NE(app, nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(app, title, 64);
  const std::u16string expected = TestAppTitle();
  EXPECT_EQ(FromWStr(title), expected);
  // Found by title, as a second instance of the program looks for it.
  EXPECT_EQ(FindWindowW(nullptr, reinterpret_cast<const wchar_t*>(expected.c_str())), app);
  // The hook chain sees the application window's messages first.
  int seen = 0;
  Application->HookMainWindow(
      [&](TMessage& m) {
        if (m.Msg == 0x2B10) ++seen;
        return false;
      },
      &seen);
  SendMessageW(app, 0x2B10, 1, 0);
  Application->UnhookMainWindow(&seen);
  SendMessageW(app, 0x2B10, 1, 0);
  EXPECT_EQ(seen, 1);
}

TEST(Clipboard, UnicodeTextRoundTripsAndAnsiTextIsWidened) {
  const std::u16string text = u"Gr\u00FC\u00DFe \uFF1A snapshot";
  Clipboard()->SetAsText(text);
  EXPECT_TRUE(Clipboard()->HasFormat(CF_UNICODETEXT));
  EXPECT_EQ(Clipboard()->AsText(), text);

  // Only 8-bit text on the clipboard.
  ASSERT_TRUE(OpenClipboard(Application->Handle()));
  EmptyClipboard();
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, 6);
  memcpy(GlobalLock(g), "plain", 6);
  GlobalUnlock(g);
  SetClipboardData(CF_TEXT, g);
  CloseClipboard();
  EXPECT_EQ(Clipboard()->AsText(), u"plain");
}

TEST(Clipboard, BitmapsTravelAsThirtyTwoBitDibs) {
  TBitmap a;
  a.SetSize(3, 2);
  a.Canvas()->SetPixel(2, 1, clRed);
  Clipboard()->Assign(&a);
  EXPECT_TRUE(Clipboard()->HasFormat(CF_DIB));
  TBitmap b;
  b.Assign(Clipboard());
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Canvas()->Pixel(2, 1), clRed);
}

class CountingThread : public TThread {
 public:
  CountingThread() : TThread(false) {}
  std::atomic<int> loops{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++loops;
      Sleep(1);
    }
    SetReturnValue(7);
  }
};

TEST(Thread, FreeTerminatesAndWaits) {
  auto* t = New<CountingThread>();
  while (t->loops < 3) Sleep(1);
  EXPECT_FALSE(t->Finished());
  t->Terminate();
  EXPECT_EQ(t->WaitFor(), 7);
  EXPECT_TRUE(t->Finished());
  Free(t);
  auto* u = New<CountingThread>();
  Free(u);  // terminates and joins by itself
}

}  // namespace
}  // namespace kelm::test
