// A stand-in for the automation program's server "Servidor.exe" under Wine.
// Started, it writes "servidor-iniciado.txt" beside itself: its current
// folder on the first line and the show command it was given on the second
// ("show=N", or "show=none" without one). Then it runs until a file
// "servidor-parar.txt" appears beside it (or 120 s have passed), as a server
// runs until it is stopped, writes "servidor-encerrado.txt" and exits.

#include "StandinFiles.h"

#include <string>

int wmain()
{
    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return 3;
    std::wstring folder(self, length);
    folder.resize(folder.rfind(L'\\'));

    wchar_t current[MAX_PATH * 4];
    const DWORD currentLength = GetCurrentDirectoryW(MAX_PATH * 4, current);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const std::string show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0
                                 ? "show=" + std::to_string(startup.wShowWindow)
                                 : std::string("show=none");
    const std::string marker = standin::Utf8(std::wstring(current, currentLength)) + "\r\n" + show + "\r\n";
    if (!standin::WriteWhole(folder + L"\\servidor-iniciado.txt", marker))
        return 3;

    const std::wstring stop = folder + L"\\servidor-parar.txt";
    for (int i = 0; i < 120 * 20 && !standin::Exists(stop); ++i)
        Sleep(50);
    return standin::WriteWhole(folder + L"\\servidor-encerrado.txt", "ended\r\n") ? 0 : 3;
}
