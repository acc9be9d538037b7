// pelvarctl run in-process on a given platform, with its standard output and
// standard error captured.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/pelvarctl/CtlRunner.h"

namespace pelvar::test {

struct CtlCapture {
    int status = -1;
    std::string out;
    std::string err;
};

inline CtlCapture RunCtlCaptured(const std::vector<std::string>& args, IPlatform& platform)
{
    char* outBuf = nullptr;
    char* errBuf = nullptr;
    std::size_t outLen = 0;
    std::size_t errLen = 0;
    std::FILE* o = open_memstream(&outBuf, &outLen);
    std::FILE* e = open_memstream(&errBuf, &errLen);
    CtlCapture r;
    r.status = RunPelvarctl(args, o, e, platform);
    std::fclose(o);
    std::fclose(e);
    r.out.assign(outBuf, outLen);
    r.err.assign(errBuf, errLen);
    std::free(outBuf);
    std::free(errBuf);
    return r;
}

} // namespace pelvar::test
