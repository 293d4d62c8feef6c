// Measures the main window for tools/bench-window.py: "main" or "bare" (a window that only clears
// and fills a rectangle with Direct2D, the floor any window here can reach). Each reports the time
// from process creation to its first painted frame, then, while a thread posts progress reports
// as fast as a download at full speed does, how long each paint takes and how many there were.
#include "DriverMain.h"
#include "release/base/Callbacks.h"
#include "ui/MainWindow.h"

#include <windows.h>

#include <d2d1.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using Pd::UiDriver::Say;

double MillisecondsSinceProcessStart()
{
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    ::GetSystemTimePreciseAsFileTime(&now);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
}

struct Bare
{
    Pd::ComPtr<ID2D1Factory> factory;
    Pd::ComPtr<ID2D1HwndRenderTarget> target;
    Pd::ComPtr<ID2D1SolidColorBrush> brush;
    float fraction = 0;
};
Bare bare;

LRESULT CALLBACK BareProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
    {
        PAINTSTRUCT paint;
        ::BeginPaint(window, &paint);
        RECT client{};
        ::GetClientRect(window, &client);
        if (!bare.target)
        {
            bare.factory->CreateHwndRenderTarget(
                D2D1::RenderTargetProperties(),
                D2D1::HwndRenderTargetProperties(window, D2D1::SizeU(client.right, client.bottom)),
                bare.target.Put());
            bare.target->CreateSolidColorBrush(D2D1::ColorF(0.24f, 0.86f, 0.52f), bare.brush.Put());
        }
        bare.target->BeginDraw();
        bare.target->Clear(D2D1::ColorF(0.1255f, 0.1255f, 0.1255f));
        bare.target->FillRectangle(D2D1::RectF(26, 216, 26 + 600 * bare.fraction, 220), bare.brush.Get());
        bare.target->EndDraw();
        ::EndPaint(window, &paint);
        return 0;
    }
    if (message == Pd::Ui::MessageProgress)
    {
        std::unique_ptr<Pd::Core::Progress> report(reinterpret_cast<Pd::Core::Progress*>(lParam));
        bare.fraction = static_cast<float>(report->position) / 1000.0f;
        RECT track{25, 215, 627, 221};
        ::InvalidateRect(window, &track, FALSE);
        return 0;
    }
    if (message == WM_DESTROY)
        ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateBare(HINSTANCE instance)
{
    ::D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                        bare.factory.PutVoid());
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BareProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"BenchBare";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, L"BenchBare", L"Bare", WS_OVERLAPPEDWINDOW, 40, 40, 720, 804, nullptr,
                                    nullptr, instance, nullptr);
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
    return window;
}

// Posts reports for the given time, as a download's progress callback does: one per chunk of a
// megabyte, so one every 1000 us at a gigabyte a second.
void Flood(HWND window, std::chrono::milliseconds length, std::chrono::microseconds every,
           std::atomic<long>& posted)
{
    auto start = Clock::now();
    while (Clock::now() - start < length)
    {
        auto report = std::make_unique<Pd::Core::Progress>();
        report->stage = L"Downloading system.vhdx";
        report->position = static_cast<std::int32_t>((Clock::now() - start) * 1000 / length);
        report->bytesDone = static_cast<std::uint64_t>(report->position) * 1000000;
        report->bytesTotal = 1000000000;
        report->bytesPerSecond = 110000000;
        report->remainingSeconds = 9;
        if (::PostMessageW(window, Pd::Ui::MessageProgress, 0, reinterpret_cast<LPARAM>(report.get())))
        {
            report.release();
            ++posted;
        }
        std::this_thread::sleep_for(every);
    }
    ::PostMessageW(window, WM_CLOSE, 0, 0);
}

int Measure(HWND window, HACCEL accelerators, std::chrono::microseconds every)
{
    Say(fmt::format("first-frame-ms {:.1f}", MillisecondsSinceProcessStart()));
    std::atomic<long> posted = 0;
    std::vector<double> paints;
    auto start = Clock::now();
    std::thread flood(Flood, window, std::chrono::milliseconds(5000), every, std::ref(posted));
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (accelerators && ::TranslateAcceleratorW(window, accelerators, &message))
            continue;
        auto before = Clock::now();
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        if (message.message == WM_PAINT)
            paints.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    }
    flood.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(paints.begin(), paints.end());
    auto at = [&](double share) {
        return paints.empty()
                   ? 0.0
                   : paints[std::min(paints.size() - 1, static_cast<std::size_t>(share * paints.size()))];
    };
    Say(fmt::format(
        "reports {} paints {} frames-per-second {:.1f} paint-ms median {:.2f} p99 {:.2f} max {:.2f}",
        posted.load(), paints.size(), static_cast<double>(paints.size()) / seconds, at(0.5), at(0.99),
        at(1.0)));
    return 0;
}

} // namespace

// The number is the time between two reports in microseconds (1000 when missing).
int Pd::UiDriver::RunMode(HINSTANCE instance, const std::wstring& mode, int number)
{
    const std::chrono::microseconds every(number > 0 ? number : 1000);
    int code = 2;
    if (mode == L"main")
    {
        Pd::Ui::MainWindow window(instance, L"usage");
        if (window.Create(SW_SHOWNORMAL) == Pd::Ui::CreateOutcome::Created)
            code = Measure(window.Window(), window.Accelerators(), every);
    }
    else if (mode == L"bare")
        code = Measure(CreateBare(instance), nullptr, every);
    bare = {};
    return code;
}
