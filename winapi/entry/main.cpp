// The Linux build's process entry: what the Windows C runtime does for a
// program built with -municode, calling its wWinMain (on the simulated
// laptop's default machine).
#include <windows.h>

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

int main()
{
    constexpr int kShowDefault = 10;  // SW_SHOWDEFAULT
    wchar_t commandLine[] = L"";
    return wWinMain(nullptr, nullptr, commandLine, kShowDefault);
}
