// Cost of one key event on the pass path, from reading it to writing it out,
// beside the least a reader and writer of the same events must do.
#include "platform/linux/input/KeyRouter.h"
#include "platform/linux/input/XkbKeyText.h"

#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace tarnell;
using namespace tarnell::input;

namespace {

constexpr int kFrames = 1000; // one key event and its sync report each

input_event make(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

// The frames a keyboard sends while someone types: down, up, down, up...
std::array<input_event, 2> frame(int i) {
    return {make(EV_KEY, KEY_J, (i & 1) == 0 ? 1 : 0), make(EV_SYN, SYN_REPORT, 0)};
}

// What the engine does for a key while the Hyper key is up: two field reads and
// one test, then the same event back.
bool hyperDown = false;
engine::KeyEvent* passCallback(void*, std::uint32_t, engine::KeyEvent* event, void*) {
    benchmark::DoNotOptimize(event->integerValueField(engine::kFieldAutorepeat));
    benchmark::DoNotOptimize(event->integerValueField(engine::kFieldKeycode));
    benchmark::DoNotOptimize(hyperDown);
    return event;
}

class NoText final : public KeyTextSource {
public:
    [[nodiscard]] bool affectsState(std::uint16_t) const override { return false; }
    void updateKey(std::uint16_t, bool) override {}
    int text(std::uint16_t, char16_t*, int) const override { return 0; }
};

struct Pipes {
    Pipes() {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            std::abort();
        }
        inRead = in[0], inWrite = in[1], outRead = out[0], outWrite = out[1];
    }
    ~Pipes() {
        for (const int fd : {inRead, inWrite, outRead, outWrite}) {
            ::close(fd);
        }
    }
    Pipes(const Pipes&) = delete;
    Pipes& operator=(const Pipes&) = delete;

    void fill() const {
        for (int i = 0; i < kFrames; ++i) {
            const auto events = frame(i);
            [[maybe_unused]] auto written = ::write(inWrite, events.data(), sizeof(events));
        }
    }
    void drain() const {
        std::array<char, 4096> sink{};
        std::size_t left = kFrames * 2 * sizeof(input_event);
        while (left > 0) {
            const auto got = ::read(outRead, sink.data(), std::min(left, sink.size()));
            if (got <= 0) {
                break;
            }
            left -= static_cast<std::size_t>(got);
        }
    }
    int inRead, inWrite, outRead, outWrite;
};

class PipeSink final : public EventSink {
public:
    explicit PipeSink(int fd) : fd_(fd) {}
    void write(std::span<const input_event> events) override {
        [[maybe_unused]] auto written = ::write(fd_, events.data(), events.size_bytes());
    }

private:
    int fd_;
};

template <typename Body> void timeFrames(benchmark::State& state, Body body) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// The limit: read each report and write it out again, nothing else.
void BM_PipeReadWriteLoop(benchmark::State& state) {
    Pipes pipes;
    std::array<input_event, 64> buffer{};
    for (auto _ : state) {
        pipes.fill();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i) {
            const auto got = ::read(pipes.inRead, buffer.data(), 2 * sizeof(input_event));
            [[maybe_unused]] auto written =
                ::write(pipes.outWrite, buffer.data(), static_cast<std::size_t>(got));
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        pipes.drain();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// The layer: the same reads, each event routed, written at its sync report.
void BM_PipeKeyRouterPass(benchmark::State& state) {
    Pipes pipes;
    PipeSink sink(pipes.outWrite);
    NoText text;
    KeyMap map;
    map.set({{KEY_CAPSLOCK, KEY_F18}});
    KeyRouter router(sink, text, map);
    router.setCallback(&passCallback, nullptr);
    std::array<input_event, 64> buffer{};
    for (auto _ : state) {
        pipes.fill();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i) {
            const auto got = ::read(pipes.inRead, buffer.data(), 2 * sizeof(input_event));
            const auto count = static_cast<std::size_t>(got) / sizeof(input_event);
            for (std::size_t k = 0; k < count; ++k) {
                router.route(buffer[k]);
            }
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        pipes.drain();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// Without the system calls: what the routing itself adds to copying events.
struct MemoryFrames {
    MemoryFrames() {
        for (int i = 0; i < kFrames; ++i) {
            const auto events = frame(i);
            in[static_cast<std::size_t>(2 * i)] = events[0];
            in[static_cast<std::size_t>(2 * i + 1)] = events[1];
        }
    }
    std::array<input_event, 2 * kFrames> in{};
    std::array<input_event, 2 * kFrames> out{};
    std::size_t written = 0;
};

class MemorySink final : public EventSink {
public:
    explicit MemorySink(MemoryFrames& frames) : frames_(frames) {}
    void write(std::span<const input_event> events) override {
        std::memcpy(&frames_.out[frames_.written], events.data(), events.size_bytes());
        frames_.written += events.size();
    }

private:
    MemoryFrames& frames_;
};

void BM_MemoryCopyLoop(benchmark::State& state) {
    MemoryFrames frames;
    MemorySink sink(frames);
    timeFrames(state, [&] {
        frames.written = 0;
        for (int i = 0; i < kFrames; ++i) {
            sink.write(
                std::span<const input_event>(&frames.in[static_cast<std::size_t>(2 * i)], 2));
        }
        benchmark::DoNotOptimize(frames.out.data());
    });
}

void routeMemoryFrames(benchmark::State& state, KeyTextSource& text) {
    MemoryFrames frames;
    MemorySink sink(frames);
    KeyMap map;
    map.set({{KEY_CAPSLOCK, KEY_F18}});
    KeyRouter router(sink, text, map);
    router.setCallback(&passCallback, nullptr);
    timeFrames(state, [&] {
        frames.written = 0;
        for (const auto& event : frames.in) {
            router.route(event);
        }
        benchmark::DoNotOptimize(frames.out.data());
    });
}

void BM_MemoryKeyRouterPass(benchmark::State& state) {
    NoText text;
    routeMemoryFrames(state, text);
}

// The same with the key text of a real layout, which each passing key asks whether
// it changes the keyboard state.
void BM_MemoryKeyRouterPassXkbText(benchmark::State& state) {
    const auto text = XkbKeyText::fromNames({"evdev", "pc105", "us", "", ""});
    if (!text) {
        state.SkipWithError("no keymap");
        return;
    }
    routeMemoryFrames(state, *text);
}

} // namespace

BENCHMARK(BM_PipeReadWriteLoop)->UseManualTime();
BENCHMARK(BM_PipeKeyRouterPass)->UseManualTime();
BENCHMARK(BM_MemoryCopyLoop)->UseManualTime();
BENCHMARK(BM_MemoryKeyRouterPass)->UseManualTime();
BENCHMARK(BM_MemoryKeyRouterPassXkbText)->UseManualTime();
