// End-to-end test of the real main window under a display (Xvfb + wine):
// the window runs on a thread of its own, exactly as the program runs it;
// this thread drops files on it, reads and answers every box it shows and
// checks the files left on disk.
//
// The tests share one window and run in the order written; the last one
// closes the window in the middle of a job.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/drop_intake.h"
#include "app/main_window.h"
#include "app/resource.h"
#include "app/window_job_host.h"
#include "engine/codec_library.h"
#include "support/about_box.h"
#include "support/privilege.h"
#include "tests/app/app_test_util.h"
#include "tests/fixtures/archive_builder.h"
#include "tests/fixtures/test_codec.h"
#include "tests/gui/gui_driver.h"
#include "version.h"

using apptest::ScratchFolder;
using gui::Box;

namespace {

const char kWrongCount[] =
    "Please drop only one fatty archive at a time. The window could break otherwise.";
const char kTooLong[] =
    "Cannot pull the dropped archive from that location. Please move it elsewhere and try again.";
const char kReadOnly[] =
    "Your archive seems to be in a read-only location or you do not have enough privileges to "
    "create and write files in there.";
const char kWaveAccepted[] = "Fine, will play this once the archive is ready.";
const char kCodecAccepted[] = "I see, this one will need some support.";
const char kUnsupported[] =
    "This does not look like a supported GRF archive. The extension is usually .grf, .gpf, .gef "
    "or .gsf ...";
const char kOverwrite[] =
    "There already seems to be slim version of this archive around. Do you want to discard it?";

struct Session {
  gui::MainWindowThread main;
  std::vector<Box> startupBoxes;
  bool startupComplete = false;
  ScratchFolder* folder = nullptr;
};
Session g_session;

HWND MainWindow() { return g_session.main.window(); }
const ScratchFolder& Folder() { return *g_session.folder; }

HICON SystemIcon(LPCSTR id) { return LoadIconA(nullptr, id); }
HICON ApplicationIcon() {
  return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
}

// The main window thread runs the dialog; the boxes it shows at start (the
// administrator check) are read and answered here.
class MainWindowEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_session.folder = new ScratchFolder("gui");
    ASSERT_TRUE(g_session.folder->ok());
    ASSERT_TRUE(g_session.main.Start()) << "the main window did not appear";
    gui::RecordControls(MainWindow());

    const AdminCheckOutcome expected = DecideAdminWarnings(GatherAdminCheckFacts());
    const size_t count = (expected.showWarning ? 1 : 0) + (expected.showNote ? 1 : 0);
    for (size_t i = 0; i < count; ++i) {
      Box box;
      ASSERT_TRUE(gui::WaitForBox(MainWindow(), &box)) << "startup box " << i << " missing";
      g_session.startupBoxes.push_back(box);
      ASSERT_TRUE(gui::Answer(box, IDOK));
    }
    // Nothing more comes.
    Box extra;
    if (gui::WaitForBox(MainWindow(), &extra, 1500)) {
      g_session.startupBoxes.push_back(extra);
      gui::Answer(extra, IDOK);
    }
    g_session.startupComplete = true;
  }

  void TearDown() override {
    if (g_session.main.Running()) {
      PostMessageA(MainWindow(), WM_COMMAND, IDCANCEL, 0);
      INT_PTR result = 0;
      g_session.main.Join(60000, &result);
    }
    delete g_session.folder;
    g_session.folder = nullptr;
  }
};

const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new MainWindowEnvironment);

// Drops the files, waits for the box the drop causes and returns it read.
Box DropAndWaitForBox(const std::vector<std::string>& files, HDROP* dropOut = nullptr,
                      DWORD milliseconds = 30000) {
  HDROP drop = gui::MakeDrop(files);
  EXPECT_NE(drop, nullptr);
  PostMessageA(MainWindow(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
  Box box;
  EXPECT_TRUE(gui::WaitForBox(MainWindow(), &box, milliseconds))
      << "no box after dropping " << files.size() << " file(s), first: "
      << (files.empty() ? "-" : files[0]);
  if (dropOut) *dropOut = drop;
  return box;
}

// A refused drop: one information box with the text, OK only; the drop is
// released and no job starts.
void ExpectRefusal(const std::vector<std::string>& files, const char* text,
                   DWORD milliseconds = 30000) {
  std::string dropped = std::to_string(files.size()) + " file(s):";
  for (const std::string& file : files) dropped += " " + file;
  SCOPED_TRACE(dropped);
  const uint32_t launched = JobsLaunched();
  HDROP drop = nullptr;
  const Box box = DropAndWaitForBox(files, &drop, milliseconds);
  EXPECT_EQ(box.caption, "Notice");
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.icon, SystemIcon(IDI_INFORMATION));
  EXPECT_EQ(box.buttons, std::set<int>{IDOK});
  EXPECT_TRUE(gui::Answer(box, IDOK));
  EXPECT_TRUE(gui::WaitUntil([&] { return !gui::DropAlive(drop); }, 5000)) << "drop not released";
  EXPECT_EQ(JobsLaunched(), launched);
}

bool NoBoxFor(DWORD milliseconds) {
  Box box;
  if (!gui::WaitForBox(MainWindow(), &box, milliseconds)) return true;
  ADD_FAILURE() << "unexpected box \"" << box.caption << "\": " << box.text;
  gui::Answer(box, box.buttons.count(IDOK) ? IDOK : IDNO);
  return false;
}

bool MenuChecked(UINT item) {
  return (GetMenuState(GetSystemMenu(MainWindow(), FALSE), item, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

bool DropsAccepted() {
  return (GetWindowLongA(MainWindow(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
}

uint64_t FileSize(const std::string& path) { return apptest::ReadBytes(path).size(); }

std::string Cleaned(const std::string& stem) { return Folder() / (stem + "-cleaned.grf"); }

// An archive whose entries come in three identical copies each: two of every
// three become links.
std::string WriteFatArchive(const std::string& stem, int distinct, size_t size,
                            fixture::Storage storage = fixture::Storage::Zlib) {
  fixture::ArchiveSpec spec;
  for (int i = 0; i < distinct; ++i) {
    const fixture::Bytes content = fixture::MakeContent(size, 1000 + i);
    for (int copy = 0; copy < 3; ++copy) {
      char name[64];
      std::snprintf(name, sizeof name, "data\\copy%d\\item%d.txt", copy, i);
      spec.entries.push_back(fixture::Entry(name, content, storage));
    }
  }
  const std::string path = Folder() / (stem + ".grf");
  EXPECT_TRUE(fixture::WriteBytesToFile(path, fixture::BuildArchiveBytes(spec)));
  return path;
}

// Waits for the job to end and checks that the window is idle again.
void ExpectIdleAfterJob() {
  EXPECT_TRUE(WaitForJobEnd(60000)) << "the job did not end";
  EXPECT_TRUE(gui::WaitUntil([] { return DropsAccepted(); }, 5000)) << "drops stay off";
  EXPECT_EQ(gui::ControlText(MainWindow(), IDC_STATUS), "");
  EXPECT_EQ(gui::ControlText(MainWindow(), IDC_ESTIMATE), "");
  EXPECT_EQ(SendDlgItemMessageA(MainWindow(), IDC_PROGRESS, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(Folder().Count("zqt"), 0);
}

}  // namespace

TEST(MainWindow, ShowsItsTextsAndWarnsOnceAboutAdministratorRights) {
  ASSERT_TRUE(g_session.startupComplete);
  char title[64] = "";
  GetWindowTextA(MainWindow(), title, sizeof title);
  EXPECT_STREQ(title, "Slimwick");
  EXPECT_EQ(gui::ControlText(MainWindow(), IDC_PROMPT), "Drop a fat GRF archive here...");
  EXPECT_EQ(gui::ControlText(MainWindow(), IDC_FOOTNOTE), "...results may vary.");
  EXPECT_NE(SendMessageA(MainWindow(), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageA(MainWindow(), WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_TRUE(DropsAccepted());

  // The administrator warning, then the note, each only when the decision asks for it.
  const AdminCheckOutcome expected = DecideAdminWarnings(GatherAdminCheckFacts());
  const struct {
    bool shown;
    const char* caption;
    const char* text;
    LPCSTR icon;
  } boxes[] = {
      {expected.showWarning, "Warning",
       "Do not run this application as Administrator, otherwise it might burn more than just "
       "your archive's calories.",
       IDI_WARNING},
      {expected.showNote, "Notice",
       "Note also, that drag'n'drop might not work from other applications due to security "
       "constraints exhibited by the operating system.",
       IDI_INFORMATION},
  };
  size_t seen = 0;
  for (const auto& box : boxes) {
    if (!box.shown) continue;
    ASSERT_LT(seen, g_session.startupBoxes.size());
    const Box& got = g_session.startupBoxes[seen++];
    EXPECT_EQ(got.caption, box.caption);
    EXPECT_EQ(got.text, box.text);
    EXPECT_EQ(got.icon, SystemIcon(box.icon));
    EXPECT_EQ(got.buttons, std::set<int>{IDOK});
  }
  EXPECT_EQ(g_session.startupBoxes.size(), seen);

  // Moving the window again does not repeat the check.
  RECT rect;
  GetWindowRect(MainWindow(), &rect);
  SetWindowPos(MainWindow(), nullptr, rect.left + 10, rect.top + 10, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_TRUE(NoBoxFor(1000));
}

TEST(MainWindow, SystemMenuCarriesTheSubmenuAndTogglesItsChecks) {
  HMENU system = GetSystemMenu(MainWindow(), FALSE);
  ASSERT_NE(system, nullptr);
  char text[64] = "";
  GetMenuStringA(system, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "Slimwick");
  HMENU submenu = GetSubMenu(system, 0);
  ASSERT_NE(submenu, nullptr);
  EXPECT_EQ(GetMenuState(system, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  const UINT items[] = {IDM_ABOUT, 0, IDM_BEST_COMPRESSION, IDM_BACKGROUND_MODE, 0,
                        IDM_LOAD_CODEC_LIBRARY, IDM_UNLOAD_CODEC_LIBRARY};
  ASSERT_EQ(GetMenuItemCount(submenu), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(GetMenuItemID(submenu, i), items[i]) << i;

  // Each item flips its own flag and check mark; twice leaves both off.
  struct Step {
    UINT item;
    bool best;
    bool background;
  };
  const Step steps[] = {{0, false, false},
                        {IDM_BEST_COMPRESSION, true, false},
                        {IDM_BACKGROUND_MODE, true, true},
                        {IDM_BEST_COMPRESSION, false, true},
                        {IDM_BACKGROUND_MODE, false, false}};
  for (const Step& step : steps) {
    if (step.item) SendMessageA(MainWindow(), WM_SYSCOMMAND, step.item, 0);
    SCOPED_TRACE(step.item);
    EXPECT_EQ(MenuChecked(IDM_BEST_COMPRESSION), step.best);
    EXPECT_EQ(BestCompression, step.best ? 1 : 0);
    EXPECT_EQ(MenuChecked(IDM_BACKGROUND_MODE), step.background);
    EXPECT_EQ(BackgroundMode, step.background ? 1 : 0);
  }
}

TEST(MainWindow, AboutBoxOpensFromF1AndTheMenuOneAtATime) {
  auto aboutBoxes = [] {
    int count = 0;
    for (HWND hwnd : gui::OwnedDialogs(MainWindow())) {
      char caption[64] = "";
      GetWindowTextA(hwnd, caption, sizeof caption);
      if (std::strcmp(caption, "About Slimwick...") == 0) ++count;
    }
    return count;
  };
  for (bool f1 : {true, false}) {
    SCOPED_TRACE(f1 ? "F1" : "menu item");
    std::thread request = f1 ? gui::RequestHelp(MainWindow())
                             : gui::SendFromHelperThread(MainWindow(), WM_SYSCOMMAND, IDM_ABOUT, 0);
    Box box;
    const bool opened = gui::WaitForBox(MainWindow(), &box);
    EXPECT_TRUE(opened);
    if (opened) {
      EXPECT_EQ(box.caption, "About Slimwick...");
      EXPECT_EQ(gui::ControlText(box.hwnd, about::kNameId), "Slimwick, Version " SLIMWICK_VERSION);
      EXPECT_NE(gui::ControlText(box.hwnd, about::kTextId).find(zlibVersion()), std::string::npos);
      EXPECT_FALSE(IsWindowEnabled(MainWindow())) << "the About box is modal";

      // A second request, by either way, reaches the window through the
      // About box's own loop and opens nothing.
      std::thread again[] = {
          gui::RequestHelp(MainWindow()),
          gui::SendFromHelperThread(MainWindow(), WM_SYSCOMMAND, IDM_ABOUT, 0)};
      Sleep(700);
      EXPECT_EQ(aboutBoxes(), 1);
      // Close every About box (also ones that should not have opened), so
      // that the requests return.
      for (int i = 0; i < 5 && aboutBoxes() > 0; ++i)
        for (HWND hwnd : gui::OwnedDialogs(MainWindow())) gui::Answer(gui::ReadBox(hwnd), IDOK);
      for (std::thread& thread : again) thread.join();
    }
    request.join();
    EXPECT_TRUE(gui::WaitUntil([] { return IsWindowEnabled(MainWindow()) != FALSE; }, 5000));
  }
  EXPECT_TRUE(NoBoxFor(700));
}

TEST(MainWindow, RefusesOrRemembersWhatIsNoSingleArchive) {
  const std::string text = Folder() / "readme.txt";
  ASSERT_TRUE(apptest::WriteBytes(text, "not an archive at all"));
  const std::string sound = Folder() / "sound.wav";
  ASSERT_TRUE(apptest::WriteBytes(sound, std::string("RIFF\x24\0\0\0WAVEfmt ", 16)));
  const std::string codec =
      fixture::TestCodecLibraryPath(fixture::CodecVariant::Compress2AndUncompress);
  // kPathCapacity characters: refused before the file is looked at (it need not exist).
  std::string tooLong = Folder() / "";
  tooLong += std::string(kPathCapacity - tooLong.size() - 4, 'x') + ".grf";
  struct Row {
    std::vector<std::string> files;
    const char* text;
    DWORD milliseconds = 30000;
  };
  std::vector<Row> rows = {
      {{text, sound}, kWrongCount},
      {{text}, kUnsupported},
      {{apptest::BuildFile("slimwick_probe_plain.dll")}, kUnsupported},
      {{tooLong}, kTooLong},
      {{sound}, kWaveAccepted},
      {{codec}, kCodecAccepted},
  };
  // Prepared by tests/gui/run_gui_test.sh where the machine allows it. The
  // write test tries every temporary name before it gives up there, which
  // takes a while under wine.
  if (const char* locked = std::getenv("SLIMWICK_READONLY_ARCHIVE"); locked && *locked)
    rows.push_back({{apptest::FromUnixPath(locked)}, kReadOnly, 300000});
  for (const Row& row : rows) ExpectRefusal(row.files, row.text, row.milliseconds);
  EXPECT_STREQ(SoundPath, sound.c_str());
  EXPECT_STREQ(CodecLibraryPath, codec.c_str());

  // "Unload CPS Library" forgets it; "Load CPS Library..." sets it through
  // the open-file dialog.
  SendMessageA(MainWindow(), WM_SYSCOMMAND, IDM_UNLOAD_CODEC_LIBRARY, 0);
  EXPECT_STREQ(CodecLibraryPath, "");
  PostMessageA(MainWindow(), WM_SYSCOMMAND, IDM_LOAD_CODEC_LIBRARY, 0);
  Box dialog;
  ASSERT_TRUE(gui::WaitForBox(MainWindow(), &dialog));
  SetDlgItemTextA(dialog.hwnd, 0x47C, codec.c_str());  // the file name box
  PostMessageA(dialog.hwnd, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(dialog.hwnd); }, 10000));
  EXPECT_STREQ(CodecLibraryPath, codec.c_str());
  SendMessageA(MainWindow(), WM_SYSCOMMAND, IDM_UNLOAD_CODEC_LIBRARY, 0);
}

TEST(MainWindow, FatArchiveIsCleanedAndTheSoundPlayed) {
  ASSERT_EQ(BestCompression, 0);
  ASSERT_STRNE(SoundPath, "") << "runs after the sound was dropped";
  const std::string sound = SoundPath;
  const std::string source = WriteFatArchive("fat", 20, 6000);
  const std::string before = apptest::ReadBytes(source);

  gui::ClearRecords();
  const DWORD start = GetTickCount();
  const Box report = DropAndWaitForBox({source});
  const uint64_t secondsBound = (GetTickCount() - start) / 1000 + 1;
  EXPECT_EQ(report.caption, "Notice");
  EXPECT_EQ(report.icon, ApplicationIcon());
  EXPECT_EQ(report.buttons, std::set<int>{IDOK});
  EXPECT_EQ(std::string(LastSoundRequest().path), sound) << "the sound plays before the report is shown";
  EXPECT_FALSE(DropsAccepted()) << "drops are off while the job runs";

  const std::string cleaned = Cleaned("fat");
  EXPECT_TRUE(apptest::FileExists(cleaned)) << "the copy exists while the report is shown";
  EXPECT_TRUE(gui::Answer(report, IDOK));
  ExpectIdleAfterJob();

  // The sizes are read once the job has let go of the copy.
  const uint64_t sourceSize = before.size();
  const uint64_t cleanedSize = FileSize(cleaned);
  ASSERT_GT(cleanedSize, 0u);
  ASSERT_LT(cleanedSize, sourceSize);
  // The report's numbers, read back from its text.
  double kilobytes = -1;
  unsigned seconds = 0, slimmer = 0, linked = 0, unreadable = 0;
  const char* text = report.text.c_str();
  auto from = [text](const char* what) {
    const char* at = std::strstr(text, what);
    return at ? at : "";
  };
  ASSERT_EQ(std::sscanf(text, "Congratulations! Your archive lost %lf kilobytes in just %u second",
                        &kilobytes, &seconds),
            2)
      << text;
  ASSERT_EQ(std::sscanf(from("about "), "about %u%% slimmer", &slimmer), 1) << text;
  ASSERT_EQ(std::sscanf(from("\t- "),
                        "\t- %u entries were replaced with links and %u could not be read.",
                        &linked, &unreadable),
            2)
      << text;
  EXPECT_NEAR(kilobytes * 1000, static_cast<double>(sourceSize - cleanedSize), 500);
  EXPECT_LE(seconds, secondsBound);
  EXPECT_NEAR(slimmer, 100.0 * (sourceSize - cleanedSize) / sourceSize, 1);
  EXPECT_EQ(linked, 40u);
  EXPECT_EQ(unreadable, 0u);
  EXPECT_TRUE(apptest::FileExists(cleaned)) << "a lost-weight report keeps the copy";
  EXPECT_EQ(apptest::ReadBytes(source), before) << "the source is never changed";

  const std::vector<std::string> statuses = gui::StatusHistory();
  const std::vector<std::string> phases = {"Preparing...", "Consolidating...", "Finalizing...", ""};
  EXPECT_EQ(statuses, phases);
  const std::vector<uint32_t> positions = gui::ProgressHistory();
  ASSERT_GE(positions.size(), 3u);
  EXPECT_EQ(positions.front(), 0u);
  EXPECT_EQ(positions[positions.size() - 2], 100u);
  EXPECT_EQ(positions.back(), 0u);
}

TEST(MainWindow, ExistingCleanedCopyIsKeptOnNoAndReplacedOnYes) {
  const std::string source = WriteFatArchive("again", 6, 4000);
  const std::string cleaned = Cleaned("again");
  ASSERT_TRUE(apptest::WriteBytes(cleaned, "an older slim version"));

  // In background mode the worker runs at idle priority; it waits at the
  // question, so its priority can be read there.
  SendMessageA(MainWindow(), WM_SYSCOMMAND, IDM_BACKGROUND_MODE, 0);
  ASSERT_EQ(BackgroundMode, 1);
  gui::ClearRecords();
  Box question = DropAndWaitForBox({source});
  EXPECT_EQ(question.caption, "Notice");
  EXPECT_EQ(question.text, kOverwrite);
  EXPECT_EQ(question.icon, SystemIcon(IDI_QUESTION));
  EXPECT_EQ(question.buttons, (std::set<int>{IDYES, IDNO}));
  EXPECT_EQ(GetThreadPriority(RunningJobThread()), THREAD_PRIORITY_IDLE);
  EXPECT_FALSE(DropsAccepted());
  // Toggling the option during the job does not change the running job.
  SendMessageA(MainWindow(), WM_SYSCOMMAND, IDM_BACKGROUND_MODE, 0);
  ASSERT_EQ(BackgroundMode, 0);
  EXPECT_EQ(GetThreadPriority(RunningJobThread()), THREAD_PRIORITY_IDLE);
  EXPECT_TRUE(gui::Answer(question, IDNO));
  ExpectIdleAfterJob();
  EXPECT_TRUE(NoBoxFor(700)) << "No ends the job silently";
  EXPECT_EQ(apptest::ReadBytes(cleaned), "an older slim version");

  // Now in normal mode, and Yes.
  question = DropAndWaitForBox({source});
  EXPECT_EQ(question.text, kOverwrite);
  EXPECT_EQ(GetThreadPriority(RunningJobThread()), THREAD_PRIORITY_NORMAL);
  EXPECT_TRUE(gui::Answer(question, IDYES));
  Box report;
  ASSERT_TRUE(gui::WaitForBox(MainWindow(), &report));
  EXPECT_EQ(report.text.rfind("Congratulations!\r\n\r\nYour archive lost ", 0), 0u) << report.text;
  EXPECT_TRUE(gui::Answer(report, IDOK));
  ExpectIdleAfterJob();
  const std::string replaced = apptest::ReadBytes(cleaned);
  EXPECT_EQ(replaced.compare(0, 15, "Master of Magic"), 0) << "the old file was replaced";
  EXPECT_LT(replaced.size(), FileSize(source));
}

// Last: closes the window.
TEST(MainWindow, ClosingDuringAJobStopsItAndLeavesNoCopy) {
  // Large stored entries recompressed at level 9: a job of several seconds.
  SendMessageA(MainWindow(), WM_SYSCOMMAND, IDM_BEST_COMPRESSION, 0);
  ASSERT_EQ(BestCompression, 1);
  const std::string source = WriteFatArchive("big", 80, 256 * 1024, fixture::Storage::Stored);
  const uint64_t sourceSize = FileSize(source);
  gui::ClearRecords();
  const uint32_t launched = JobsLaunched();
  HDROP drop = gui::MakeDrop({source});
  PostMessageA(MainWindow(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
  ASSERT_TRUE(gui::WaitUntil(
      [] {
        const std::vector<uint32_t> positions = gui::ProgressHistory();
        return !positions.empty() && positions.back() >= 1 && positions.back() < 100;
      },
      60000))
      << "the job did not get going";
  EXPECT_EQ(JobsLaunched(), launched + 1);

  // A drop that reaches the window during the job starts nothing.
  HDROP second = gui::MakeDrop({WriteFatArchive("second", 2, 100)});
  PostMessageA(MainWindow(), WM_DROPFILES, reinterpret_cast<WPARAM>(second), 0);
  EXPECT_TRUE(gui::WaitUntil([&] { return !gui::DropAlive(second); }, 5000));
  EXPECT_EQ(JobsLaunched(), launched + 1);

  ASSERT_TRUE(IsJobRunning()) << "the job ended before the window could be closed";
  PostMessageA(MainWindow(), WM_COMMAND, IDCANCEL, 0);
  INT_PTR result = -1;
  ASSERT_TRUE(g_session.main.Join(120000, &result)) << "the window did not close";
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(IsJobRunning()) << "the window ended before the job";
  EXPECT_FALSE(gui::DropAlive(drop));

  const std::vector<std::string> statuses = gui::StatusHistory();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front(), "Preparing...");
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Stopping..."), statuses.end());
  EXPECT_EQ(statuses.back(), "");
  EXPECT_FALSE(apptest::FileExists(Cleaned("big"))) << "a half-written copy was left behind";
  EXPECT_FALSE(apptest::FileExists(Cleaned("second")));
  EXPECT_EQ(FileSize(source), sourceSize);
  EXPECT_EQ(Folder().Count("zqt"), 0);
}
