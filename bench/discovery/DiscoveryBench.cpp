// How long the port list takes to fill: on this machine through udev, and
// through a fake source of 200 devices (the filter and the sorted insert).
#include "discovery/PortList.h"
#include "tests/support/FakeDeviceSource.h"
#include "tests/support/TestEnvironment.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

using pelvar::test::FakeDeviceSource;
using pelvar::test::NamedDevice;
using pelvar::test::ScopedEnv;
using pelvar::test::TempDir;

// The machine's own list: udev plus an empty shared port directory.
void BM_FillPortListUdev(benchmark::State& state)
{
    TempDir runtime;
    ScopedEnv noExclusive("PELVAR_PORTS_DIR", std::nullopt);
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.Path());
    pelvar::SortedPortList list;
    for (auto _ : state) {
        FillPortList(list);
        benchmark::DoNotOptimize(list.Entries().data());
    }
    state.counters["ports"] = static_cast<double>(list.Entries().size());
}
BENCHMARK(BM_FillPortListUdev)->Unit(benchmark::kMillisecond);

// 200 devices as a busy machine has them: most are not ports, every tenth is.
FakeDeviceSource BusyMachine()
{
    FakeDeviceSource source;
    for (int i = 0; i < 200; ++i) {
        if (i % 10 == 0)
            source.devices.push_back(
                NamedDevice("USB Serial Device (COM" + std::to_string(i / 10 + 33) + ")", i / 10 + 33));
        else if (i % 10 == 5)
            source.devices.push_back(NamedDevice(std::nullopt));
        else
            source.devices.push_back(
                NamedDevice("PCI Express Root Port #" + std::to_string(i) + " - 7A3" + std::to_string(i % 10)));
    }
    return source;
}

void BM_FillPortListFake200(benchmark::State& state)
{
    FakeDeviceSource source = BusyMachine();
    std::FILE* out = std::fopen("/dev/null", "w");
    pelvar::SortedPortList list;
    for (auto _ : state) {
        FillPortList(list, source, out);
        benchmark::DoNotOptimize(list.Entries().data());
    }
    state.counters["ports"] = static_cast<double>(list.Entries().size());
    std::fclose(out);
}
BENCHMARK(BM_FillPortListFake200)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
