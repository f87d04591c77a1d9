// vireo-cast-standin.exe --hold FILE --ready FILE --asked FILE --closed FILE
//                        [--close-delay-ms N] [--close-when FILE] [--timeout-s N]
//
// A stand-in for the automation program "Vireo Cast" under Wine: a top-level
// window of class "VcmMainwin" that holds FILE open without sharing while it
// runs. A close request (WM_CLOSE) is not obeyed at once: ASKED is written,
// and once N milliseconds have passed (default 0) and the --close-when file
// exists (when one is named) it lets FILE go, saves its state into it by name
// (as a program saves its settings on the way out) and only then destroys
// its window. Every path is a Windows path.
//
// READY is written once the window exists and FILE is held; CLOSED while the
// window is being destroyed on request. Exit status 0 after a close request,
// 2 after the time limit (default 120 s, so that a failed test leaves nothing
// running), 3 when FILE cannot be held or the window not made, 64 for a bad
// command line.

#include "StandinFiles.h"

#include <cwchar>
#include <string>

namespace {

// What the stand-in writes into the held file when it closes.
constexpr char SavedOnClose[] = "estado salvo pelo Vireo Cast ao fechar\r\n";

constexpr UINT_PTR ClosingTimer = 1;
constexpr UINT_PTR LimitTimer = 2;
constexpr UINT ClosingCheckMs = 50;

struct Options {
    std::wstring hold, ready, asked, closed, closeWhen;
    ULONGLONG closeDelayMs = 0;
    UINT limitSeconds = 120;
};

Options options;
HANDLE held = INVALID_HANDLE_VALUE;
ULONGLONG askedAtMs = 0;
int exitStatus = 2;

bool ReadyToClose()
{
    return GetTickCount64() - askedAtMs >= options.closeDelayMs &&
           (options.closeWhen.empty() || standin::Exists(options.closeWhen));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        // Only the first request starts the closing; later ones change nothing.
        if (askedAtMs == 0) {
            askedAtMs = GetTickCount64();
            standin::WriteWhole(options.asked, "asked\r\n");
            SetTimer(window, ClosingTimer, ClosingCheckMs, nullptr);
        }
        return 0;
    case WM_TIMER:
        if (wParam == ClosingTimer) {
            if (!ReadyToClose())
                return 0;
            KillTimer(window, ClosingTimer);
            CloseHandle(held);
            held = INVALID_HANDLE_VALUE;
            standin::WriteWhole(options.hold, SavedOnClose);
            exitStatus = 0;
        }
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (exitStatus == 0)
            standin::WriteWhole(options.closed, "closed\r\n");
        PostQuitMessage(exitStatus);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool ParseOptions(int argc, wchar_t** argv)
{
    if (argc % 2 == 0)
        return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        const wchar_t* value = argv[i + 1];
        if (option == L"--hold")
            options.hold = value;
        else if (option == L"--ready")
            options.ready = value;
        else if (option == L"--asked")
            options.asked = value;
        else if (option == L"--closed")
            options.closed = value;
        else if (option == L"--close-when")
            options.closeWhen = value;
        else if (option == L"--close-delay-ms")
            options.closeDelayMs = std::wcstoull(value, nullptr, 10);
        else if (option == L"--timeout-s")
            options.limitSeconds = static_cast<UINT>(std::wcstoul(value, nullptr, 10));
        else
            return false;
    }
    return !options.hold.empty() && !options.ready.empty() && !options.asked.empty() && !options.closed.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (!ParseOptions(argc, argv))
        return 64;

    held = CreateFileW(options.hold.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 3;

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VcmMainwin";
    if (!RegisterClassW(&windowClass))
        return 3;
    HWND window = CreateWindowExW(0, L"VcmMainwin", L"Vireo Cast", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  320, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 3;
    ShowWindow(window, SW_SHOW);
    SetTimer(window, LimitTimer, options.limitSeconds * 1000, nullptr);
    standin::WriteWhole(options.ready, "ready\r\n");

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    return exitStatus;
}
