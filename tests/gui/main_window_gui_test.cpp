// The real main window under Xvfb + wine, on a thread of its own; tests run in order.

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>
#include "app/drop_intake.h"
#include "app/main_window.h"
#include "app/resource.h"
#include "app/window_job_host.h"
#include "support/privilege.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/test_codec.h"
#include "tests/support/file_util_scratch.h"

namespace {
// A dialog as read: text is "caption|message", buttons the ids of its push buttons.
struct Box { HWND hwnd = nullptr; std::string text; std::set<int> buttons; HICON icon = nullptr; };
HWND g_main = nullptr;
std::thread g_thread;
std::atomic<DWORD> g_mainThreadId{0};
std::atomic<bool> g_ended{false}, g_stopping{false};  // g_stopping: "Stopping..." was set on the status line
ScratchDir* g_dir = nullptr;
std::vector<Box> g_startupBoxes;
WNDPROC g_statusProc = nullptr;
template <class Done> bool WaitUntil(Done done, DWORD milliseconds = 30000) {
  for (const DWORD start = GetTickCount(); !done(); Sleep(10))
    if (GetTickCount() - start >= milliseconds) return false;
  return true;
}
std::string Text(HWND window, int id = 0) {
  char text[4096] = "";
  GetWindowTextA(id ? GetDlgItem(window, id) : window, text, sizeof text);
  return text;
}
// Top-level dialogs (boxes of the window and of its jobs, About boxes) owned by `owner`.
std::vector<HWND> Dialogs(HWND owner) {
  std::vector<HWND> found;
  for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "#32770", nullptr));)
    if (IsWindowVisible(h) && GetWindow(h, GW_OWNER) == owner) found.push_back(h);
  return found;
}
// The next box, read once it has its buttons; none (null hwnd) if it does not come.
Box Next(DWORD milliseconds = 30000) {
  std::vector<HWND> found;
  Box box;
  if (WaitUntil([&] { return !(found = Dialogs(g_main)).empty(); }, milliseconds))
    WaitUntil([&] {
      box = {found[0], Text(found[0]) + "|" + Text(found[0], 0xFFFF), {}, nullptr};
      for (HWND c = nullptr; (c = FindWindowExA(box.hwnd, c, "Button", nullptr));)
        if ((GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON) box.buttons.insert(GetDlgCtrlID(c));
      for (HWND c = nullptr; (c = FindWindowExA(box.hwnd, c, "Static", nullptr));)
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
          box.icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
      return !box.buttons.empty();
    }, 5000);
  return box;
}
bool Answer(const Box& box, int button) {
  PostMessageA(box.hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  return WaitUntil([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); });
}
// An HDROP as the shell builds it, posted to the main window.
HDROP Drop(const std::vector<std::string>& files) {
  size_t size = sizeof(DROPFILES) + 1;
  for (const std::string& file : files) size += file.size() + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  char* names = reinterpret_cast<char*>(header + 1);
  for (const std::string& file : files) names = strcpy(names, file.c_str()) + file.size() + 1;
  GlobalUnlock(memory);
  PostMessageA(g_main, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  return static_cast<HDROP>(memory);
}
LRESULT Progress() { return SendDlgItemMessageA(g_main, IDC_PROGRESS, PBM_GETPOS, 0, 0); }
bool Released(HDROP drop) { return WaitUntil([&] { return !GlobalSize(drop); }, 5000); }
LRESULT CALLBACK StatusRecorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && !strcmp(reinterpret_cast<const char*>(lParam), "Stopping..."))
    g_stopping = true;
  return CallWindowProcA(g_statusProc, hwnd, message, wParam, lParam);
}
class MainWindowEnvironment : public ::testing::Environment {
  void SetUp() override {
    g_dir = new ScratchDir;
    g_thread = std::thread([] {
      g_mainThreadId = GetCurrentThreadId();
      InitCommonControls();
      RunMainWindow(GetModuleHandleA(nullptr));
      g_ended = true;
    });
    ASSERT_TRUE(WaitUntil([] {
      for (HWND h : Dialogs(nullptr))
        if (GetWindowThreadProcessId(h, nullptr) == g_mainThreadId) g_main = h;
      return g_main != nullptr;
    }, 60000)) << "the main window did not appear";
    HWND status = GetDlgItem(g_main, IDC_STATUS);
    g_statusProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(status, GWLP_WNDPROC));
    SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StatusRecorder));
    for (Box box; (box = Next(3000)).hwnd; g_startupBoxes.push_back(box)) Answer(box, IDOK);
  }
  void TearDown() override {
    if (!g_ended) PostMessageA(g_main, WM_COMMAND, IDCANCEL, 0);
    if (WaitUntil([] { return g_ended.load(); }, 60000)) g_thread.join();
    else g_thread.detach();
    delete g_dir;
  }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new MainWindowEnvironment);
bool DropsAccepted() { return GetWindowLongA(g_main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES; }
std::string Cleaned(const std::string& stem) { return g_dir->File(stem + "-cleaned.grf"); }
// Every entry comes in three identical copies: two of every three become links.
std::string WriteFatArchive(const std::string& stem, int distinct, size_t size, fixture::Storage storage = fixture::Storage::Zlib) {
  fixture::ArchiveSpec spec;
  for (int i = 0; i < distinct * 3; ++i)
    spec.entries.push_back(fixture::Entry(std::to_string(i % 3) + "\\item" + std::to_string(i / 3),
                                          fixture::MakeContent(size, 1000 + i / 3), storage));
  const std::string path = g_dir->File(stem + ".grf");
  EXPECT_TRUE(fixture::WriteBytesToFile(path, fixture::BuildArchiveBytes(spec)));
  return path;
}
void ExpectIdleAfterJob() {
  EXPECT_TRUE(WaitForJobEnd(60000)) << "the job did not end";
  EXPECT_TRUE(WaitUntil(DropsAccepted, 5000)) << "drops stay off";
  EXPECT_EQ(Text(g_main, IDC_STATUS) + Text(g_main, IDC_ESTIMATE) + std::to_string(Progress()), "0");
  for (const auto& entry : std::filesystem::directory_iterator(g_dir->Folder()))
    EXPECT_NE(entry.path().filename().string().rfind("zqt", 0), 0u) << "write test left a file";
}
const std::string kOverwrite = "Notice|There already seems to be slim version of this archive around. Do you want to discard it?";
}  // namespace

TEST(MainWindow, ShowsItsTextsAndWarnsOnceAboutAdministratorRights) {
  EXPECT_EQ(Text(g_main) + Text(g_main, IDC_PROMPT) + Text(g_main, IDC_FOOTNOTE),
            "SlimwickDrop a fat GRF archive here......results may vary.");
  EXPECT_NE(SendMessageA(g_main, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_TRUE(DropsAccepted());
  const AdminCheckOutcome expected = DecideAdminWarnings(GatherAdminCheckFacts());
  EXPECT_EQ(g_startupBoxes.size(), size_t{expected.showWarning} + expected.showNote);
}

TEST(MainWindow, RefusesOrRemembersWhatIsNoSingleArchive) {
  const std::string text = g_dir->Write("readme.txt", "not an archive at all");
  const std::string sound = g_dir->Write("sound.wav", std::string("RIFF\x24\0\0\0WAVEfmt ", 16));
  const auto codec = fixture::TestCodecLibraryPath(fixture::CodecVariant::Compress2AndUncompress);
  std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{text, sound}, "Please drop only one fatty archive at a time. The window could break otherwise."},
      {{text}, "This does not look like a supported GRF archive. The extension is usually .grf, .gpf, .gef or .gsf ..."},
      {{fixture::TestCodecLibraryPath(fixture::CodecVariant::OtherArchitecture)},  // not a crash
       "This does not look like a supported GRF archive. The extension is usually .grf, .gpf, .gef or .gsf ..."},
      {{g_dir->File(std::string(kPathCapacity - g_dir->File("").size(), 'x'))},  // 260: unread
       "Cannot pull the dropped archive from that location. Please move it elsewhere and try again."},
      {{sound}, "Fine, will play this once the archive is ready."},
      {{codec}, "I see, this one will need some support."},
  };
  // Made by run_gui_test.sh where the machine allows; slow under wine (every temporary name).
  if (const char* locked = std::getenv("SLIMWICK_READONLY_ARCHIVE"); locked && *locked)
    rows.push_back({{locked}, "Your archive seems to be in a read-only location or you do not have "
                              "enough privileges to create and write files in there."});
  const uint32_t launched = JobsLaunched();
  for (const auto& [files, says] : rows) {
    const HDROP drop = Drop(files);
    const Box box = Next(300000);
    EXPECT_EQ(box.text, "Notice|" + says) << files[0];
    EXPECT_EQ(box.icon, LoadIconA(nullptr, IDI_INFORMATION));
    EXPECT_EQ(box.buttons, std::set<int>{IDOK});
    EXPECT_TRUE(Answer(box, IDOK) && Released(drop)) << files[0];
  }
  EXPECT_EQ(JobsLaunched(), launched);
  EXPECT_STREQ(SoundPath, sound.c_str());
  EXPECT_STREQ(CodecLibraryPath, codec.c_str());
  SendMessageA(g_main, WM_SYSCOMMAND, IDM_UNLOAD_CODEC_LIBRARY, 0);
  EXPECT_STREQ(CodecLibraryPath, "") << "Unload CPS Library forgets it";
}

TEST(MainWindow, FatArchiveIsCleanedAndReportedAfterTheSound) {
  ASSERT_STRNE(SoundPath, "") << "runs after the sound was dropped";
  const std::string source = WriteFatArchive("fat", 20, 6000), before = ReadAll(source);
  Drop({source});
  const Box report = Next();
  EXPECT_EQ(report.icon, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APPLICATION_ICON)));
  EXPECT_EQ(report.buttons, std::set<int>{IDOK});
  EXPECT_STREQ(LastSoundRequest().path, SoundPath) << "the sound plays before the report";
  EXPECT_FALSE(DropsAccepted()) << "drops are off while the job runs";
  EXPECT_TRUE(std::filesystem::exists(Cleaned("fat"))) << "the copy exists during the report";
  EXPECT_TRUE(Answer(report, IDOK));
  ExpectIdleAfterJob();
  // Its numbers are the report's own (report and job tests); here, that it speaks of this run.
  EXPECT_EQ(report.text.rfind("Notice|Congratulations!\r\n\r\nYour archive lost ", 0), 0u) << report.text;
  EXPECT_NE(report.text.find("40 entries were replaced with links and 0 could not be read."), std::string::npos);
  EXPECT_LT(ReadAll(Cleaned("fat")).size(), before.size());
  EXPECT_EQ(ReadAll(source), before) << "the source is never changed";
}

TEST(MainWindow, ExistingCleanedCopyIsKeptOnNoAndReplacedOnYes) {
  const std::string source = WriteFatArchive("again", 6, 4000);
  g_dir->Write("again-cleaned.grf", "an older slim version");
  SendMessageA(g_main, WM_SYSCOMMAND, IDM_BACKGROUND_MODE, 0);  // the worker runs at idle priority
  Drop({source});
  Box question = Next();
  EXPECT_EQ(question.text, kOverwrite);
  EXPECT_EQ(question.icon, LoadIconA(nullptr, IDI_QUESTION));
  EXPECT_EQ(question.buttons, (std::set<int>{IDYES, IDNO}));
  SendMessageA(g_main, WM_SYSCOMMAND, IDM_BACKGROUND_MODE, 0);  // the running job keeps its mode
  EXPECT_EQ(GetThreadPriority(RunningJobThread()), THREAD_PRIORITY_IDLE);
  EXPECT_TRUE(Answer(question, IDNO));
  ExpectIdleAfterJob();
  EXPECT_EQ(Next(700).hwnd, nullptr) << "No ends the job silently";
  EXPECT_EQ(ReadAll(Cleaned("again")), "an older slim version");
  Drop({source});
  question = Next();
  EXPECT_EQ(question.text, kOverwrite);
  EXPECT_EQ(GetThreadPriority(RunningJobThread()), THREAD_PRIORITY_NORMAL);
  EXPECT_TRUE(Answer(question, IDYES));
  const Box report = Next();
  EXPECT_EQ(report.text.rfind("Notice|Congratulations!\r\n\r\nYour archive lost ", 0), 0u);
  EXPECT_TRUE(Answer(report, IDOK));
  ExpectIdleAfterJob();
  EXPECT_EQ(ReadAll(Cleaned("again")).rfind("Master of Magic", 0), 0u) << "replaced";
}

TEST(MainWindow, ClosingDuringAJobStopsItAndLeavesNoCopy) {
  // Large stored entries recompressed at level 9: a job of several seconds.
  SendMessageA(g_main, WM_SYSCOMMAND, IDM_BEST_COMPRESSION, 0);
  const std::string source = WriteFatArchive("big", 80, 256 * 1024, fixture::Storage::Stored), before = ReadAll(source);
  const uint32_t launched = JobsLaunched();
  const HDROP drop = Drop({source});
  ASSERT_TRUE(WaitUntil([] { const LRESULT position = Progress(); return position >= 1 && position < 100; }, 60000))
      << "the job did not get going";
  EXPECT_TRUE(Released(Drop({source})));  // a drop during the job starts nothing
  EXPECT_EQ(JobsLaunched(), launched + 1);
  ASSERT_TRUE(IsJobRunning()) << "the job ended before the window could be closed";
  PostMessageA(g_main, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitUntil([] { return g_ended.load(); }, 120000)) << "the window did not close";
  EXPECT_FALSE(IsJobRunning()) << "the window ended before the job";
  EXPECT_EQ(GlobalSize(drop), 0u);
  EXPECT_TRUE(g_stopping);
  EXPECT_FALSE(std::filesystem::exists(Cleaned("big"))) << "a half-written copy was left behind";
  EXPECT_EQ(ReadAll(source), before);
}
