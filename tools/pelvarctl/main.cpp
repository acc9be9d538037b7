// pelvarctl: the camera board from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pelvarctl/CtlRunner.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return pelvar::RunPelvarctl(args, stdout, stderr, pelvar::DefaultPlatform(), pelvar::NewPlatform);
}
