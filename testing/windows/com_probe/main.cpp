// halvex-com-probe.exe: prints the COM probe's lines (testing/com_probe/) as
// this system's runtime answers them, for the check under Wine to compare
// with the expected ones.
#include <cstdio>

#include "com_probe.h"

int main()
{
    for (const std::string& line : RunComProbe()) {
        std::printf("%s\n", line.c_str());
    }
    return 0;
}
