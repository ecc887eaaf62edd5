// The time from a chord that brings a running application forward to KWin reporting
// its window focused, on a real KWin. Two applications take turns in front.
// Run it against a desktop:
//   tests/support/run-desktop kde bookworm|trixie build/dev/bench/workspace/kwin_raise_bench
#include "engine/AppActivation.h"
#include "platform/linux/workspace/KWinBackend.h"
#include "platform/linux/workspace/LinuxWorkspace.h"
#include "platform/linux/workspace/MainLoopPump.h"
#include "platform/linux/workspace/TestDesktopEntries.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <glib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace tarnell;
using namespace tarnell::platform;

namespace {

using Clock = std::chrono::steady_clock;

pid_t showWindow(std::string appId) {
    std::string program = TEST_WINDOW_PROGRAM;
    char* argv[] = {program.data(), appId.data(), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) == 0 ? pid : 0;
}

bool frontmostIs(LinuxWorkspace& workspace, const std::string& desktopId) {
    const auto front = workspace.frontmostApplication();
    return front && front->identifier == desktopId;
}

// Waits in the loop itself, so that the answer is seen the moment it arrives.
bool waitFor(LinuxWorkspace& workspace, const std::string& desktopId) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    const guint tick = g_timeout_add(
        100, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!frontmostIs(workspace, desktopId) && Clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return frontmostIs(workspace, desktopId);
}

void BM_RaiseUntilFocused(benchmark::State& state) {
    testing::TestDesktopEntries entries;
    const std::string entryPaths[] = {
        entries.addEntry(entries.firstDataDir(), "bench.alpha.desktop", "true"),
        entries.addEntry(entries.firstDataDir(), "bench.beta.desktop", "true")};
    const std::string ids[] = {"bench.alpha.desktop", "bench.beta.desktop"};
    LinuxWorkspace workspace;
    auto* kwin = dynamic_cast<KWinBackend*>(workspace.windowBackend());
    if (kwin == nullptr || !testing::runUntil([&] { return kwin->ready(); }, 15000)) {
        state.SkipWithError("no KWin script");
        return;
    }
    pid_t windows[2] = {};
    for (int i = 0; i < 2; ++i) {
        windows[i] = showWindow(i == 0 ? "bench.alpha" : "bench.beta");
        if (!testing::runUntil([&] { return frontmostIs(workspace, ids[i]); }, 15000)) {
            state.SkipWithError("the windows never showed");
        }
    }
    std::vector<double> samples;
    int next = 0;
    for (auto _ : state) {
        if (state.error_occurred()) {
            break;
        }
        const auto start = Clock::now();
        engine::activateApp(workspace, false, testing::fileUrl(entryPaths[next]));
        if (!waitFor(workspace, ids[next])) {
            state.SkipWithError("never focused");
            break;
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000);
        next = 1 - next;
    }
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["min_ms"] = samples.front();
        state.counters["median_ms"] = samples[samples.size() / 2];
        state.counters["p95_ms"] = samples[samples.size() * 95 / 100];
        state.counters["max_ms"] = samples.back();
    }
    for (const pid_t pid : windows) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

} // namespace

// Once per process: GIO reads the test's application folders only once.
BENCHMARK(BM_RaiseUntilFocused)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
