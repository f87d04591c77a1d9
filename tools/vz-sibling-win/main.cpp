// vz-sibling.exe running | close | start PROGRAM
//
// The three Win32 calls the program makes on the automation program "Vireo
// Cast" when that runs under Wine: Wine does not show Win32 window classes to
// X11, so the main window of class "VcmMainwin" is looked up from inside the
// same Wine prefix. The program runs this helper with `wine` and WINEPREFIX.
//
//   running        exit status 0 when a top-level window of the class exists, 1 when not
//   close          posts that window WM_CLOSE (both parameters 0) without waiting;
//                  0 when posted, 1 when there is no such window
//   start PROGRAM  starts PROGRAM (a Windows path) with show command SW_SHOW in
//                  its own folder, without waiting; 0 when started
//
// Any other failure (a bad command line, a post or start that Windows
// refuses) exits with 2 and a line on standard error.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr int Found = 0;
constexpr int NotFound = 1;
constexpr int Failed = 2;

constexpr const wchar_t* WindowClass = L"VcmMainwin";

int usage()
{
    std::fwprintf(stderr, L"usage: vz-sibling.exe running | close | start PROGRAM\n");
    return Failed;
}

int running()
{
    return FindWindowW(WindowClass, nullptr) != nullptr ? Found : NotFound;
}

int closeWindow()
{
    HWND window = FindWindowW(WindowClass, nullptr);
    if (window == nullptr)
        return NotFound;
    if (!PostMessageW(window, WM_CLOSE, 0, 0)) {
        std::fwprintf(stderr, L"PostMessage failed: error %lu\n", GetLastError());
        return Failed;
    }
    return Found;
}

int start(const wchar_t* program)
{
    // The server runs in its own folder, where it looks for its files.
    wchar_t folder[MAX_PATH * 4];
    const size_t length = std::wcslen(program);
    if (length == 0 || length >= sizeof folder / sizeof folder[0])
        return usage();
    std::wcscpy(folder, program);
    wchar_t* cut = std::wcsrchr(folder, L'\\');
    if (cut != nullptr)
        *cut = L'\0';
    const HINSTANCE result = ShellExecuteW(nullptr, nullptr, program, nullptr, cut != nullptr ? folder : nullptr, SW_SHOW);
    // ShellExecute reports success with a value above 32.
    if (reinterpret_cast<INT_PTR>(result) <= 32) {
        std::fwprintf(stderr, L"ShellExecute failed for %ls: %ld\n", program,
                      static_cast<long>(reinterpret_cast<INT_PTR>(result)));
        return Failed;
    }
    return Found;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wcscmp(argv[1], L"running") == 0)
        return running();
    if (argc == 2 && std::wcscmp(argv[1], L"close") == 0)
        return closeWindow();
    if (argc == 3 && std::wcscmp(argv[1], L"start") == 0)
        return start(argv[2]);
    return usage();
}
