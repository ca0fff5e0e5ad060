// The runtime on Windows (run under Wine): dynamic calls into a probe DLL and the real User32,
// the BMP writer replacing files, and the Win32 driver's windows, coordinates and monitors,
// drawing, desktop capture, events, waits (pauses, the pointer), thread errors and native menus.
#include "core/bmp_file.h"
#include "win32/coords.h"
#include "win32/object_state.h"

#include <host/application.h>
#include <host/dll.h>
#include <host/drawing.h>
#include <host/error.h>
#include <host/threads.h>
#include <host/windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace host;

namespace {

constexpr long long Std = DLL_STDCALL;

fs::path exeFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

// A pixel of a bitmap in host coordinates, as 0xRRGGBB.
Color pixel(const std::shared_ptr<XbpBitmap>& bitmap, int x, int y) {
    const win32::Surface& s = Impl(*bitmap).surface;
    GdiFlush();
    const std::uint8_t* p = s.bits() + s.stride() * win32::ToDeviceRow(y, s.height()) + x * 4;
    return (p[2] << 16) | (p[1] << 8) | p[0];
}

std::shared_ptr<XbpBitmap> bitmapWithSpace(int width, int height) {
    auto ps = XbpPresSpace::New()->create();
    auto bitmap = XbpBitmap::New()->create();
    bitmap->presSpace(ps);
    bitmap->make(width, height);
    return bitmap;
}

struct Drained {
    int code = event::NoEvent;
    Param mp1;
    Param mp2;
    std::shared_ptr<XbpPart> target;
};

// The next event that is not a paint, focus, resize or pointer notice, or NoEvent after half a
// second.
Drained nextInput() {
    Drained d;
    for (int i = 0; i < 50; ++i) {
        d.code = AppEvent(d.mp1, d.mp2, d.target, 50);
        if (d.code != event::Paint && d.code != event::SetFocus && d.code != event::KillFocus &&
            d.code != event::Resize && d.code != event::Motion && d.code != event::Enter &&
            d.code != event::Leave) {
            return d;
        }
    }
    return {};
}

// True when the worker's run ends within `hundredths`; waits for it to end in any case, since
// the run uses the caller's locals.
bool endsWithin(Thread& worker, int hundredths) {
    const bool ended = worker.synchronize(hundredths);
    worker.synchronize(0);
    return ended;
}

} // namespace

// ---- Dynamic calls -----------------------------------------------------------------------

TEST(DllCalls, PassNumbersAndTextsByTheX64ConventionAndReachTheRealUser32) {
    const long long probe = DllLoad("winprobe.dll");
    ASSERT_NE(probe, 0);
    EXPECT_EQ(DllLoad("WINPROBE"), probe) << "the same file gives the same handle";
    EXPECT_EQ(DllExecuteCall(DllPrepareCall(probe, Std, "ProbeNone")), 42);
    EXPECT_EQ(DllExecuteCall(DllPrepareCall(probe, Std, "ProbeEight"), 1, 2, 3, 4, 5, 6, 7, 8), 204)
        << "four arguments in registers and four on the stack, in order";
    EXPECT_EQ(DllExecuteCall(DllPrepareCall(probe, Std, "ProbeIsNegative"), -5), 1)
        << "a negative number is sign-extended to the whole slot";
    EXPECT_EQ(DllExecuteCall(DllPrepareCall(probe, Std, "ProbeText"), 3, std::string("Wine"), 7),
              3147);
    EXPECT_FALSE(DllPrepareCall(probe, Std, "NoSuchFunction"));
    EXPECT_THROW(DllExecuteCall(DllPrepareCall(probe, Std, "NoSuchFunction")), Error);

    const long long user32 = DllLoad("User32.dll");
    ASSERT_NE(user32, 0);
    EXPECT_EQ(DllExecuteCall(DllPrepareCall(user32, Std, "GetSystemMetrics"), SM_CXSCREEN),
              GetSystemMetrics(SM_CXSCREEN));
    EXPECT_NE(DllExecuteCall(DllPrepareCall(user32, Std, "GetDesktopWindow")), 0);
}

TEST(DllCalls, LoadFromTheApplicationFolderNeverTheCurrentOne) {
    const fs::path scratch = fs::temp_directory_path() / "menutip-dll-cwd";
    fs::create_directories(scratch);
    fs::copy_file(exeFolder() / "winprobe.dll", scratch / "cwdprobe.dll",
                  fs::copy_options::overwrite_existing);
    const fs::path before = fs::current_path();
    fs::current_path(scratch);
    EXPECT_EQ(DllLoad("cwdprobe.dll"), 0) << "found in the current folder";
    EXPECT_EQ(DllLoad(".\\cwdprobe.dll"), 0) << "a relative folder is the application's";
    fs::current_path(before);
    EXPECT_NE(DllLoad((scratch / "cwdprobe.dll").string()), 0) << "a full path loads";
    EXPECT_EQ(DllLoad(""), 0);
}

// ---- The BMP writer ----------------------------------------------------------------------

TEST(BmpFile, ReplacesAnExistingFileWholeLeavingNoTemporaryFileAndNeverFailsInSilence) {
    const fs::path folder = fs::temp_directory_path() / "menutip-bmp";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / "capture.bmp";
    std::ofstream(file) << "an older, shorter file";
    const std::vector<std::uint8_t> pixels(3 * 2 * 4, 0x80);
    ASSERT_TRUE(bmpfile::WriteFile(file.string(), pixels.data(), 3, 2, 12));
    EXPECT_EQ(fs::file_size(file), bmpfile::FileSize(3, 2));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_FALSE(
        bmpfile::WriteFile((folder / "missing" / "x.bmp").string(), pixels.data(), 3, 2, 12));

    // A bitmap that cannot be saved says so in one line on stderr, naming the file.
    const std::string missing = (folder / "missing" / "capture.bmp").string();
    auto bitmap = bitmapWithSpace(3, 2);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bitmap->saveFile(missing));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(": warning: " + missing + ": "), std::string::npos) << said;
}

// ---- Windows, coordinates, drawing -------------------------------------------------------

TEST(Win32Driver, DialogsSitAtHostCoordinatesAndTheDrawingAreaFillsTheClientArea) {
    const Size screen = AppDesktop()->currentSize();
    EXPECT_EQ(screen.width, GetSystemMetrics(SM_CXSCREEN));
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{100, 50}, Size{300, 200}, {}, true);
    dlg->title("Ünïcode title");
    dlg->create();
    HWND hwnd = Impl(*dlg).hwnd;
    RECT r{};
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.bottom, screen.height - 50) << "the lower left corner is the host position";
    EXPECT_EQ(dlg->currentPos(), (Point{100, 50}));
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    EXPECT_STREQ(title, L"Ünïcode title");

    RECT client{};
    GetClientRect(hwnd, &client);
    auto area = dlg->drawingArea();
    EXPECT_EQ(area->currentSize(), (Size{client.right, client.bottom}));
    dlg->menuBar(); // the native bar takes rows from the client area
    GetClientRect(hwnd, &client);
    EXPECT_EQ(area->currentSize(), (Size{client.right, client.bottom}));

    CenterControl(dlg);
    EXPECT_EQ(dlg->currentPos(), (Point{(screen.width - 300) / 2, (screen.height - 200) / 2}));
    dlg->destroy();
    EXPECT_FALSE(dlg->isCreated());
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(Win32Driver, DrawsBoxesTextAndGradientsWithInclusiveCornersFromTheLowerLeft) {
    auto bitmap = bitmapWithSpace(20, 10);
    auto ps = bitmap->presSpace();
    ps->setColor(0xff0000);
    ASSERT_TRUE(GraBox(ps, {2, 1}, {5, 3}, fill::Fill));
    EXPECT_EQ(pixel(bitmap, 2, 1), 0xff0000);
    EXPECT_EQ(pixel(bitmap, 5, 3), 0xff0000);
    EXPECT_EQ(pixel(bitmap, 6, 3), 0);
    EXPECT_EQ(pixel(bitmap, 5, 4), 0);
    EXPECT_EQ(pixel(bitmap, 1, 1), 0);
    EXPECT_EQ(pixel(bitmap, 2, 0), 0);
    ps->setColor(0x00ff00);
    ASSERT_TRUE(GraBox(ps, {10, 2}, {14, 6}, fill::Outline));
    EXPECT_EQ(pixel(bitmap, 10, 2), 0x00ff00);
    EXPECT_EQ(pixel(bitmap, 14, 6), 0x00ff00);
    EXPECT_EQ(pixel(bitmap, 12, 4), 0) << "an outline leaves the inside alone";

    // The gradient from the lower left to the upper right corner.
    auto wide = bitmapWithSpace(100, 50);
    ASSERT_TRUE(GraGradient(wide->presSpace(), {0, 0}, {{100, 50}}, {0x000000, 0xffffff},
                            gradient::Linear));
    EXPECT_LT(pixel(wide, 0, 0) & 0xff, 8);
    EXPECT_GT(pixel(wide, 99, 49) & 0xff, 247);
    EXPECT_NEAR(pixel(wide, 50, 25) & 0xff, 128, 3);

    // Text: its box in the font's metrics, and ink in the colour above the baseline.
    auto text = bitmapWithSpace(200, 40);
    auto tps = text->presSpace();
    const TextBox box = GraQueryTextBox(tps, "Tip Explaining");
    EXPECT_GT(box.upperRight.y, 5);
    EXPECT_LE(box.lowerLeft.y, 0);
    EXPECT_GT(box.upperRight.x, 40);
    EXPECT_LT(GraQueryTextBox(tps, "Tip").concat.x, box.concat.x);
    tps->setColor(0x0000ff);
    ASSERT_TRUE(GraStringAt(tps, {3, 10}, "Tip Explaining"));
    int inkInside = 0;
    int inkOutside = 0;
    for (int y = 0; y < 40; ++y) {
        const bool inBox = y >= 10 + box.lowerLeft.y && y < 10 + box.upperRight.y;
        for (int x = 0; x < 200; ++x) {
            if (pixel(text, x, y) != 0) {
                ++(inBox && x >= 3 && x < 3 + box.upperRight.x ? inkInside : inkOutside);
            }
        }
    }
    EXPECT_GT(inkInside, 30);
    EXPECT_EQ(inkOutside, 0) << "no ink outside the text box";
}

TEST(Win32Driver, CapturesTheDesktopWithTheDialogWhereItIs) {
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{40, 30}, Size{200, 150},
                              {{pp::Background, 0x00c000}}, true);
    dlg->create();
    auto area = dlg->drawingArea();
    // A drawing area shows its bitmap: a plain colour here.
    auto picture = bitmapWithSpace(10, 10);
    picture->presSpace()->setColor(0x2050e0);
    GraBox(picture->presSpace(), {0, 0}, {9, 9}, fill::Fill);
    area->bitmap(picture);
    area->options(bmp::Scaled);
    UpdateWindow(Impl(*area).hwnd);
    Sleep(30); // the X server under Wine shows it

    const Size screen = AppDesktop()->currentSize();
    auto shot = bitmapWithSpace(screen.width, screen.height);
    auto desk = AppDesktop()->lockPS();
    ASSERT_TRUE(
        GraBitBlt(shot->presSpace(), desk, {0, 0, screen.width - 1, screen.height - 1}, {0, 0}));
    AppDesktop()->unlockPS(desk);
    const Point centre = dlg->currentPos();
    EXPECT_EQ(pixel(shot, centre.x + 100, centre.y + 60), 0x2050e0);
    EXPECT_NE(pixel(shot, centre.x + 250, centre.y + 60), 0x2050e0);
    dlg->destroy();
}

// ---- Events and waiting ------------------------------------------------------------------

TEST(Win32Driver, WindowMessagesBecomeTheRuntimesEvents) {
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{10, 10}, Size{200, 100}, {}, true);
    dlg->create();
    HWND area = Impl(*dlg->drawingArea()).hwnd;
    PostMessageW(area, WM_CHAR, VK_ESCAPE, 0);
    Drained d = nextInput();
    EXPECT_EQ(d.code, event::Keyboard);
    EXPECT_EQ(d.mp1, key::Escape);
    EXPECT_EQ(d.target, dlg->drawingArea());
    PostMessageW(area, WM_KEYDOWN, VK_F5, 0);
    d = nextInput();
    EXPECT_EQ(d.code, event::Keyboard);
    EXPECT_EQ(d.mp1, key::F1 + 4);
    PostMessageW(area, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 0));
    d = nextInput();
    EXPECT_EQ(d.code, event::ButtonDown);
    EXPECT_EQ(d.mp1, 5);
    EXPECT_EQ(d.mp2, dlg->drawingArea()->currentSize().height - 1) << "the top row, y up";
    PostMessageW(Impl(*dlg).hwnd, WM_CLOSE, 0, 0);
    d = nextInput();
    EXPECT_EQ(d.code, event::Close);
    EXPECT_EQ(d.target, dlg);
    EXPECT_TRUE(IsWindow(Impl(*dlg).hwnd)) << "closing is the program's decision";

    EXPECT_TRUE(PostAppEvent(0x1234, 1, 2, dlg));
    d = nextInput();
    EXPECT_EQ(d.code, 0x1234);
    EXPECT_EQ(d.target, dlg);
    dlg->destroy();
}

TEST(Win32Driver, APausedThreadStillAnswersMessagesSentToItsWindows) {
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{10, 10}, Size{100, 80}, {}, false);
    dlg->create();
    HWND hwnd = Impl(*dlg).hwnd;
    std::atomic<bool> answered{false};
    std::thread sender([&] {
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_BLOCK, 2000, &result) != 0;
    });
    const auto start = std::chrono::steady_clock::now();
    Sleep(50);
    sender.join();
    EXPECT_TRUE(answered) << "the sender waited for a sleeping thread";
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(480));
    dlg->destroy();
}

TEST(Win32Driver, ThePointerAndTheMonitorsAreInHostCoordinates) {
    const Size screen = AppDesktop()->currentSize();
    SetCursorPos(30, 40);
    EXPECT_EQ(GetPointerPos(), (Point{30, screen.height - 1 - 40}));

    // One monitor (the X server under Wine): it is the whole desktop, in inclusive corners.
    const Rect whole{0, 0, screen.width - 1, screen.height - 1};
    EXPECT_EQ(MonitorAt({0, 0}), whole);
    EXPECT_EQ(MonitorAt({screen.width - 1, screen.height - 1}), whole);
    EXPECT_EQ(MonitorAt({screen.width + 500, -50}), whole) << "off every monitor: the primary";

    // A dialog larger than the monitor keeps its top left corner (caption, menu bar) on it.
    auto big = XbpDialog::New(AppDesktop(), nullptr, Nil,
                              Size{screen.width + 200, screen.height + 100}, {}, false);
    CenterControl(big);
    EXPECT_EQ(big->currentPos(), (Point{0, -100}));
}

TEST(Win32Driver, AStopRequestEndsThePausesOfAThreadThatOwnsAWindow) {
    using namespace std::chrono_literals;
    using clock = std::chrono::steady_clock;
    auto worker = std::make_shared<Thread>();
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> waiting{false};
    clock::duration paused{};
    bool pauseEndedForStop = false;
    worker->start(Callback<void()>("", [&] {
        auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{10, 10}, Size{100, 80}, {}, false);
        dlg->create();
        window = Impl(*dlg).hwnd;
        const auto start = clock::now();
        Sleep(1000);
        paused = clock::now() - start;
        pauseEndedForStop = StopRequested();
        dlg->destroy();
    }));
    for (int i = 0; i < 2000 && !window; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(window) << "the worker made no window";
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 2000, &result), 0)
        << "the pausing thread did not answer a message sent to its window";
    worker->requestStop();
    EXPECT_TRUE(endsWithin(*worker, 500)) << "the pause did not end for the stop request";
    EXPECT_TRUE(pauseEndedForStop);
    EXPECT_LT(paused, 5s);

    // A wait for the pointer ends for a stop request too; nothing moves the pointer here.
    bool moved = true;
    worker->start(Callback<void()>("", [&] {
        const Point from = GetPointerPos();
        waiting = true;
        const auto start = clock::now();
        moved = WaitPointerMove(from, 1000);
        paused = clock::now() - start;
    }));
    for (int i = 0; i < 2000 && !waiting; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(200ms); // well inside the wait
    worker->requestStop();
    EXPECT_TRUE(endsWithin(*worker, 500));
    EXPECT_FALSE(moved);
    EXPECT_LT(paused, 5s);
}

// In a child process (a death test): the error ends it, as one on the start thread would.
TEST(Win32DriverDeathTest, AnErrorThatEndsAThreadsRunEndsTheProgramThroughItsErrorSystem) {
    EXPECT_EXIT(
        {
            StartupRecord record;
            record.name = "errtest";
            record.main = [] {
                auto worker = std::make_shared<Thread>();
                worker->start(Callback<void()>("", [] {
                    auto tip = XbpDialog::New(AppDesktop(), nullptr, Point{10, 10}, Size{100, 80},
                                              {}, true);
                    tip->create();
                    throw Error("TipRun", "raised on purpose");
                }));
                worker->synchronize(0);
                Sleep(50);
            };
            std::exit(Start(record) == 0 ? 0 : 3);
        },
        testing::ExitedWithCode(1), "errtest: error: TipRun: raised on purpose");
}

TEST(Win32Driver, AWaitForThePointerWakesWhenItMoves) {
    using namespace std::chrono_literals;
    using clock = std::chrono::steady_clock;
    SetCursorPos(200, 200);
    auto worker = std::make_shared<Thread>();
    std::atomic<bool> waiting{false};
    std::string method;
    bool moved = false;
    clock::duration waited{};
    worker->start(Callback<void()>("", [&] {
        method = PointerWaitMethod();
        const Point from = GetPointerPos();
        waiting = true;
        const auto start = clock::now();
        moved = WaitPointerMove(from, 1000);
        waited = clock::now() - start;
    }));
    for (int i = 0; i < 2000 && !waiting; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(200ms);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = 20;
    input.mi.dwFlags = MOUSEEVENTF_MOVE; // input, unlike SetCursorPos, reaches the hooks
    EXPECT_EQ(SendInput(1, &input, sizeof input), 1u);
    EXPECT_TRUE(endsWithin(*worker, 1500));
    EXPECT_EQ(method, "a low-level mouse hook");
    EXPECT_TRUE(moved);
    EXPECT_LT(waited, 5s) << "woke at the time-out, not for the move";
}

// ---- Native menus ------------------------------------------------------------------------

TEST(Win32Driver, MenuMessagesDriveMarkingEndingAndChoosing) {
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{10, 10}, Size{300, 200}, {}, true);
    dlg->create();
    auto bar = dlg->menuBar();
    std::vector<std::string> log;
    bar->endMenu({"", [&] { log.push_back("bar end"); }});
    auto menu = XbpMenu::New(bar)->create();
    menu->title("~Menu & More");
    menu->itemMarked({"", [&](int n) { log.push_back("marked " + std::to_string(n)); }});
    menu->endMenu({"", [&] { log.push_back("menu end"); }});
    auto sub = XbpMenu::New(menu)->create();
    sub->title("~Updates");
    menu->addItem(sub);
    menu->addItem(MenuAction{"~Reserve", {"", [&] { log.push_back("chose Reserve"); }}, Nil, Nil});
    bar->addItem(menu);

    HWND hwnd = Impl(*dlg).hwnd;
    HMENU native = GetMenu(hwnd);
    ASSERT_NE(native, nullptr);
    wchar_t caption[64] = {};
    GetMenuStringW(native, 0, caption, 64, MF_BYPOSITION);
    EXPECT_STREQ(caption, L"&Menu && More");
    HMENU popup = GetSubMenu(native, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetSubMenu(popup, 0), Impl(*sub).menu.get());
    const UINT reserve = GetMenuItemID(popup, 1);

    SendMessageW(hwnd, WM_MENUSELECT, MAKEWPARAM(0, MF_POPUP | MF_HILITE),
                 reinterpret_cast<LPARAM>(popup));
    SendMessageW(hwnd, WM_MENUSELECT, MAKEWPARAM(reserve, MF_HILITE),
                 reinterpret_cast<LPARAM>(popup));
    SendMessageW(hwnd, WM_MENUSELECT, MAKEWPARAM(reserve, MF_HILITE),
                 reinterpret_cast<LPARAM>(popup));
    SendMessageW(hwnd, WM_UNINITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
    SendMessageW(hwnd, WM_EXITMENULOOP, FALSE, 0);
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(reserve, 0), 0);
    Sleep(5);
    EXPECT_EQ(log, (std::vector<std::string>{"marked 1", "marked 2", "menu end", "bar end",
                                             "chose Reserve"}));

    bar->destroy();
    EXPECT_EQ(GetMenu(hwnd), nullptr);
    dlg->destroy();
}
