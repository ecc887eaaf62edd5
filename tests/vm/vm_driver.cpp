// Runs inside the test machine: makes a keyboard through uinput, runs the minimal
// forwarder, keyd and Tarnell on it, types through it and checks what comes out.
// Prints one PASS or FAIL line per check and ends with the overall result.
//
// Usage: vm-driver --forwarder <path> [--tarnell <path>] [--keyd <path>] [--keys <n>]
//                  [--output-name <name of Tarnell's keyboard>]
#include "Latency.h"
#include "VmDevices.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <linux/input-event-codes.h>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnell::vm {
namespace {

constexpr const char* kKeyboardName = "VM Test Keyboard";
constexpr const char* kSecondKeyboardName = "VM Test Keyboard Plugged Later";
constexpr const char* kForwarderOutputName = "Minimal Forwarder Output";
constexpr const char* kKeydOutputName = "keyd virtual keyboard";
// The most Tarnell may take over the minimal loop on ordinary typing, at the median
// and at p99, in the instruction clock. It takes about 1.25, most of the difference
// being the wakeup of the main loop the keys are read on; the bound catches a key
// path that grows beyond that.
constexpr double kTypingRatioBound = 1.35;
// How long Tarnell is left alone to show that it makes no wakeups when idle.
constexpr auto kIdlePeriod = 60s;
constexpr const char* kLaunchMarker = "/tmp/launch-requested";

struct Options {
    std::string forwarder;
    std::string tarnell;
    std::string accessHelper;
    std::string keyd;
    std::string tarnellOutputName = "Tarnell virtual keyboard";
    int keys = 4000;
};

int failures = 0;

void check(bool ok, const std::string& name, const std::string& detail = {}) {
    std::printf("%s: %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : " -- ",
                detail.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

void info(const std::string& text) {
    std::printf("INFO: %s\n", text.c_str());
    std::fflush(stdout);
}

// Starts a program, as `user` when given (a user with no rights of its own), with
// its standard error in `errors` when given.
pid_t spawn(const std::vector<std::string>& arguments, std::optional<uid_t> user = std::nullopt,
            const std::string& errors = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (user && (setgroups(0, nullptr) != 0 || setgid(*user) != 0 || setuid(*user) != 0)) {
            _exit(126);
        }
        if (!errors.empty()) {
            const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) {
                _exit(125);
            }
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        std::perror("execv");
        _exit(127);
    }
    return pid;
}

// The exit status of the child within `limit`, or nullopt (then it is killed).
std::optional<int> waitForExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return std::nullopt;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Whether the keyboard reaches an ordinary reader of its node, i.e. nobody holds it:
// taps a key and looks for it there. What went elsewhere is drained by the caller.
bool reachesReader(UinputKeyboard& keyboard, KeyReader& reader) {
    reader.drain(20ms);
    keyboard.tap(KEY_F13);
    const auto stroke = reader.next(100ms);
    reader.drain(20ms);
    return stroke.has_value();
}

class TarnellProcess {
public:
    explicit TarnellProcess(const Options& options, std::optional<uid_t> user = std::nullopt) {
        pid_ = spawn({options.tarnell, "--headless"}, user);
        info("started tarnell, pid " + std::to_string(pid_));
    }
    ~TarnellProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    TarnellProcess(const TarnellProcess&) = delete;
    TarnellProcess& operator=(const TarnellProcess&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    void signal(int number) const { kill(pid_, number); }
    std::optional<int> waitForExit(std::chrono::milliseconds limit) {
        const auto status = vm::waitForExit(pid_, limit);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

// What the process has open, to tell why it does not do what it should.
std::string openFiles(const TarnellProcess& tarnell) {
    std::string list = "open files:";
    const std::string directory = "/proc/" + std::to_string(tarnell.pid()) + "/fd";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        list += " " + std::filesystem::read_symlink(entry.path(), error).string();
    }
    return list;
}

// Starts Tarnell and waits until it holds `keyboard`; returns its output reader.
std::unique_ptr<KeyReader> startedOutput(const Options& options, const TarnellProcess& tarnell,
                                         UinputKeyboard& keyboard, KeyReader& direct) {
    const auto node = findDevice(options.tarnellOutputName, 10s);
    check(node.has_value(),
          "tarnell makes its virtual keyboard \"" + options.tarnellOutputName + "\"");
    if (!node) {
        return nullptr;
    }
    auto output = std::make_unique<KeyReader>(*node);
    const bool held = waitFor([&] { return !reachesReader(keyboard, direct); }, 5s);
    output->drain(50ms);
    check(held, "tarnell takes the keyboard for itself", held ? "" : openFiles(tarnell));
    return held ? std::move(output) : nullptr;
}

std::string fileText(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char buffer[512];
        while (const std::size_t got = std::fread(buffer, 1, sizeof(buffer), file)) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

// Ordinary typing and chords through a program that holds the keyboard, reading
// its output device.
LatencyRun measureRun(UinputKeyboard& keyboard, KeyReader& output, int keys) {
    LatencyRun run;
    run.typing = measureLatency(keyboard, output, keys);
    run.chords = measureChordLatency(keyboard, output, keys);
    return run;
}

// The minimal forwarder on the keyboard for `keys` keys.
LatencyRun minimalForwarderLatency(const Options& options, UinputKeyboard& keyboard, int keys) {
    const pid_t forwarder = spawn({options.forwarder, keyboard.devnode(), kForwarderOutputName});
    const auto node = findDevice(kForwarderOutputName, 5s);
    LatencyRun run;
    if (node) {
        std::this_thread::sleep_for(100ms);
        KeyReader output(*node);
        run = measureRun(keyboard, output, keys);
    }
    check(node.has_value() && run.typing.lost == 0 && run.chords.lost == 0,
          "the minimal forwarder forwards every key");
    kill(forwarder, SIGTERM);
    waitForExit(forwarder, 2s);
    return run;
}

// keyd with Caps Lock as a Hyper overload, for `keys` keys. Not a check of keyd: a
// program that does not hold the keyboard or loses keys leaves no figures.
std::optional<LatencyRun> keydLatency(const Options& options, UinputKeyboard& keyboard, int keys) {
    KeyReader direct(keyboard.devnode());
    const pid_t keyd = spawn({options.keyd}, std::nullopt, "/tmp/keyd.err");
    const auto node = findDevice(kKeydOutputName, 10s);
    std::optional<LatencyRun> run;
    if (node) {
        KeyReader output(*node);
        if (waitFor([&] { return !reachesReader(keyboard, direct); }, 5s)) {
            run = measureRun(keyboard, output, keys);
        }
    }
    kill(keyd, SIGTERM);
    waitForExit(keyd, 2s);
    if (!run || run->typing.lost != 0 || run->chords.lost != 0) {
        info("keyd did not forward the latency runs; no figures for it (" +
             std::string(node ? "its keyboard appeared" : "no keyboard of its own") +
             ", it said: " + fileText("/tmp/keyd.err") + ")");
        return std::nullopt;
    }
    return run;
}

void reportLatency(const LatencyRun& minimal, const std::optional<LatencyRun>& keyd,
                   const LatencyRun& tarnell) {
    const auto line = [](const std::string& what, const LatencySamples& samples) {
        const LatencySummary summary = summarize(samples);
        info(what + ": " + describe(summary));
        return summary;
    };
    const auto ratio = [](const std::string& what, const LatencySummary& over,
                          const LatencySummary& under) {
        if (over.samples == 0 || under.samples == 0) {
            return std::pair<double, double>{0, 0};
        }
        const double median = over.medianMicroseconds / under.medianMicroseconds;
        const double p99 = over.p99Microseconds / under.p99Microseconds;
        char text[200];
        std::snprintf(text, sizeof(text), "latency ratio %s: median %.3f, p99 %.3f, mean %.3f",
                      what.c_str(), median, p99, over.meanMicroseconds / under.meanMicroseconds);
        info(text);
        return std::pair<double, double>{median, p99};
    };
    info("latency in the instruction clock (1 instruction = 1 ns):");
    for (const bool chords : {false, true}) {
        const std::string kind = chords ? "chords" : "typing";
        const auto pick = [chords](const LatencyRun& run) -> const LatencySamples& {
            return chords ? run.chords : run.typing;
        };
        const LatencySummary minimalSummary = line("minimal forwarder " + kind, pick(minimal));
        std::optional<LatencySummary> keydSummary;
        if (keyd) {
            keydSummary = line("keyd " + kind, pick(*keyd));
        }
        const LatencySummary tarnellSummary = line("tarnell " + kind, pick(tarnell));
        const auto [median, p99] = ratio("tarnell/minimal " + kind, tarnellSummary, minimalSummary);
        if (keydSummary) {
            ratio("keyd/minimal " + kind, *keydSummary, minimalSummary);
            ratio("tarnell/keyd " + kind, tarnellSummary, *keydSummary);
        }
        if (!chords && tarnellSummary.samples > 0) {
            char bound[160];
            std::snprintf(bound, sizeof(bound), "median %.3f, p99 %.3f, bound %.2f", median, p99,
                          kTypingRatioBound);
            check(median <= kTypingRatioBound && p99 <= kTypingRatioBound,
                  "ordinary typing through tarnell takes little more than the minimal loop", bound);
        }
    }
}

std::map<unsigned, int> replay(const std::vector<KeyStroke>& strokes) {
    std::map<unsigned, int> held;
    for (const KeyStroke& stroke : strokes) {
        held[stroke.code] = stroke.value;
    }
    std::erase_if(held, [](const auto& entry) { return entry.second == 0; });
    return held;
}

void checkOrdinaryTyping(UinputKeyboard& keyboard, KeyReader& output) {
    // Overlapping presses, as fast typists make them.
    const std::vector<KeyStroke> typed = {
        {KEY_T, 1}, {KEY_H, 1},         {KEY_T, 0},     {KEY_E, 1},         {KEY_H, 0},
        {KEY_E, 0}, {KEY_SPACE, 1},     {KEY_SPACE, 0}, {KEY_LEFTSHIFT, 1}, {KEY_F, 1},
        {KEY_F, 0}, {KEY_LEFTSHIFT, 0}, {KEY_O, 1},     {KEY_O, 0},         {KEY_X, 1},
        {KEY_X, 0}, {KEY_1, 1},         {KEY_1, 0},     {KEY_ENTER, 1},     {KEY_ENTER, 0}};
    for (const KeyStroke& stroke : typed) {
        keyboard.send(stroke.code, stroke.value);
    }
    const auto received = output.drain();
    check(received == typed, "ordinary typing passes unchanged and in order",
          "got " + describe(received));
}

void checkUnboundChord(UinputKeyboard& keyboard, KeyReader& output) {
    keyboard.press(KEY_CAPSLOCK);
    keyboard.tap(KEY_J);
    keyboard.release(KEY_CAPSLOCK);
    const auto received = output.drain();
    const auto jDown = std::find(received.begin(), received.end(), KeyStroke{KEY_J, 1});
    bool modifiersAround = false;
    if (jDown != received.end()) {
        const auto held = replay({received.begin(), jDown});
        const auto holds = [&](unsigned left, unsigned right) {
            return held.count(left) != 0 || held.count(right) != 0;
        };
        modifiersAround = holds(KEY_LEFTCTRL, KEY_RIGHTCTRL) && holds(KEY_LEFTALT, KEY_RIGHTALT) &&
                          holds(KEY_LEFTSHIFT, KEY_RIGHTSHIFT) &&
                          holds(KEY_LEFTMETA, KEY_RIGHTMETA);
    }
    const bool triggerHidden = std::none_of(received.begin(), received.end(), [](KeyStroke s) {
        return s.code == KEY_CAPSLOCK || s.code == KEY_F18;
    });
    check(modifiersAround && triggerHidden && replay(received).empty(),
          "an unbound chord comes out with Ctrl, Alt, Shift and Super around the key",
          "got " + describe(received));
}

void checkBoundChord(UinputKeyboard& keyboard, KeyReader& output) {
    unlink(kLaunchMarker);
    keyboard.press(KEY_CAPSLOCK);
    keyboard.tap(KEY_K);
    keyboard.release(KEY_CAPSLOCK);
    const auto received = output.drain();
    check(received.empty(), "a bound chord is swallowed", "got " + describe(received));
    struct stat status {};
    check(waitFor([&] { return stat(kLaunchMarker, &status) == 0; }, 5s),
          "a bound chord requests the launch of its application");
}

void checkQuickTap(UinputKeyboard& keyboard, KeyReader& output) {
    const bool before = keyboard.capsLockLed();
    keyboard.tap(KEY_CAPSLOCK);
    const bool toggled = waitFor([&] { return keyboard.capsLockLed() != before; }, 2s);
    output.drain();
    check(toggled, "a quick tap of Caps Lock toggles the Caps Lock state",
          std::string("LED was ") + (before ? "on" : "off"));
    keyboard.tap(KEY_CAPSLOCK);
    check(waitFor([&] { return keyboard.capsLockLed() == before; }, 2s),
          "a second quick tap toggles it back");
    output.drain();
}

// The first double tap since Tarnell started, in quick succession: the keyboard's
// LED changes at most once per tap, without flickering, and ends as the lock is.
void checkLedAfterDoubleTap(UinputKeyboard& keyboard, KeyReader& output) {
    keyboard.takeCapsLockLedChanges();
    keyboard.tap(KEY_CAPSLOCK);
    keyboard.tap(KEY_CAPSLOCK);
    output.drain(500ms); // time for any echo to come back
    const int changes = keyboard.takeCapsLockLedChanges();
    check(changes <= 2, "the Caps Lock LED changes at most once per tap, without flickering",
          std::to_string(changes) + " changes");
    const auto locked = consoleCapsLock();
    const bool led = keyboard.capsLockLed();
    check(locked.has_value() && *locked == led, "the Caps Lock LED ends as the lock state is",
          !locked
              ? "the lock state cannot be read"
              : std::string("lock ") + (*locked ? "on" : "off") + ", LED " + (led ? "on" : "off"));
}

// Whether the process has the node open.
bool holdsOpen(pid_t pid, const std::string& node) {
    std::error_code error;
    const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (std::filesystem::read_symlink(entry.path(), error).string() == node) {
            return true;
        }
    }
    return false;
}

// Keys typed while Tarnell starts, with the desktop (here: this driver) opening
// Tarnell's keyboard a moment after Tarnell has opened the physical one: each key
// reaches a reader once, from the keyboard until Tarnell takes it and from
// Tarnell's keyboard after that.
void checkKeysTypedAtStart(const Options& options, UinputKeyboard& keyboard, KeyReader& direct) {
    constexpr auto kDesktopDelay = 150ms;
    const std::vector<unsigned> letters = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F};
    const auto presses = [](const std::vector<KeyStroke>& strokes) {
        return static_cast<int>(std::count_if(strokes.begin(), strokes.end(),
                                              [](KeyStroke s) { return s.value == 1; }));
    };
    direct.drain(20ms);
    TarnellProcess tarnell(options);
    std::unique_ptr<KeyReader> output;
    std::optional<Clock::time_point> opened;
    int typed = 0;
    int directPresses = 0;
    int outputPresses = 0;
    const auto deadline = Clock::now() + 15s;
    while (Clock::now() < deadline && outputPresses < 5) {
        keyboard.tap(letters[static_cast<std::size_t>(typed) % letters.size()]);
        ++typed;
        directPresses += presses(direct.drain(10ms));
        if (output) {
            outputPresses += presses(output->drain(10ms));
            continue;
        }
        if (!opened && holdsOpen(tarnell.pid(), keyboard.devnode())) {
            opened = Clock::now();
        }
        const auto node = findDevice(options.tarnellOutputName);
        if (opened && node && Clock::now() - *opened >= kDesktopDelay) {
            output = std::make_unique<KeyReader>(*node);
        }
    }
    directPresses += presses(direct.drain());
    if (output) {
        outputPresses += presses(output->drain());
    }
    check(output && outputPresses >= 5 && directPresses + outputPresses == typed,
          "keys typed while Tarnell starts are neither lost nor doubled",
          std::to_string(typed) + " typed, " + std::to_string(directPresses) + " direct, " +
              std::to_string(outputPresses) + " through Tarnell");
    tarnell.signal(SIGTERM);
    tarnell.waitForExit(5s);
}

// A second headless start beside the running one: it ends at once, says why and
// leaves the keyboard to the first.
void checkSecondStart(const Options& options, UinputKeyboard& keyboard, KeyReader& direct) {
    const std::string errors = "/tmp/second-start.err";
    const pid_t second = spawn({options.tarnell, "--headless"}, std::nullopt, errors);
    const auto status = waitForExit(second, 5s);
    const std::string said = fileText(errors);
    check(status == 1 && said.find("already running") != std::string::npos,
          "a second start ends at once with status 1 and says why",
          (status ? "status " + std::to_string(*status) : std::string("did not exit")) +
              ", said: " + said);
    check(!reachesReader(keyboard, direct), "the running Tarnell keeps the keyboard");
}

void checkHotplug(KeyReader& output) {
    UinputKeyboard second(kSecondKeyboardName);
    KeyReader direct(second.devnode());
    const bool held = waitFor(
        [&] {
            if (reachesReader(second, direct)) {
                return false;
            }
            // Gone from its own node: it has to come out of Tarnell's.
            const auto received = output.drain(100ms);
            return std::find(received.begin(), received.end(), KeyStroke{KEY_F13, 1}) !=
                   received.end();
        },
        5s);
    check(held, "a keyboard plugged in while running is taken and forwarded");
    output.drain();
}

void checkStopAndContinue(TarnellProcess& tarnell, UinputKeyboard& keyboard, KeyReader& direct,
                          KeyReader& output) {
    tarnell.signal(SIGSTOP);
    const auto stopped = Clock::now();
    const bool released = waitFor([&] { return reachesReader(keyboard, direct); }, 3s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopped);
    check(released && took <= 1500ms, "a stopped Tarnell gives the keyboard back within a second",
          "after " + std::to_string(took.count()) + " ms");
    // Typed while Tarnell is stopped: reaches the system directly, never twice.
    keyboard.tap(KEY_Z);
    direct.drain(50ms);

    tarnell.signal(SIGCONT);
    const bool retaken = waitFor([&] { return !reachesReader(keyboard, direct); }, 5s);
    check(retaken, "a continued Tarnell takes the keyboard again");
    const auto replayed = output.drain(300ms);
    check(
        std::none_of(replayed.begin(), replayed.end(), [](KeyStroke s) { return s.code == KEY_Z; }),
        "keys typed while Tarnell was stopped are not typed again", "got " + describe(replayed));
    keyboard.tap(KEY_G);
    const auto afterwards = output.drain();
    check(afterwards == std::vector<KeyStroke>{{KEY_G, 1}, {KEY_G, 0}},
          "typing goes through Tarnell again after it continues", "got " + describe(afterwards));
}

void checkTermination(TarnellProcess& tarnell, UinputKeyboard& keyboard, KeyReader& direct,
                      KeyReader& output) {
    tarnell.signal(SIGTERM);
    const auto status = tarnell.waitForExit(5s);
    check(status == 0, "SIGTERM ends Tarnell cleanly with status 0",
          status ? "status " + std::to_string(*status) : "did not exit");
    const auto left = output.drain(200ms);
    check(replay(left).empty() && (output.gone() || output.heldKeys().empty()),
          "no key is left held after SIGTERM", "got " + describe(left));
    direct.drain(20ms);
    keyboard.tap(KEY_CAPSLOCK);
    const auto received = direct.drain();
    check(received == std::vector<KeyStroke>{{KEY_CAPSLOCK, 1}, {KEY_CAPSLOCK, 0}},
          "after stop, Caps Lock acts as Caps Lock again", "got " + describe(received));
    keyboard.tap(KEY_CAPSLOCK); // undo the lock it turned on
    direct.drain(50ms);
}

void checkKill(const Options& options, UinputKeyboard& keyboard, KeyReader& direct) {
    TarnellProcess tarnell(options);
    auto output = startedOutput(options, tarnell, keyboard, direct);
    if (!output) {
        return;
    }
    keyboard.press(KEY_CAPSLOCK);
    keyboard.press(KEY_J);
    const auto received = output->drain();
    check(replay(received).count(KEY_J) != 0, "a chord is held through Tarnell before kill -9",
          "got " + describe(received));
    tarnell.signal(SIGKILL);
    tarnell.waitForExit(5s);
    // The kernel lets go of every key of a keyboard that goes away, and so does
    // whatever reads it (libinput, the console): a removed keyboard holds nothing.
    // Its buffered key releases cannot be read once it is gone, so the removal is
    // what is checked.
    const bool removed =
        waitFor([&] { return !findDevice(options.tarnellOutputName).has_value(); }, 2s);
    check(removed, "kill -9 removes Tarnell's keyboard, so no key stays held");
    keyboard.release(KEY_J);
    keyboard.release(KEY_CAPSLOCK);
    check(waitFor([&] { return reachesReader(keyboard, direct); }, 2s),
          "kill -9 gives the keyboard back");
}

// Started without the right to read keyboards or make one, Tarnell waits; once the
// rights arrive (as the access rule's ACLs would give them), it takes the keyboard
// within about a second, with no restart.
void checkAccessArrivingWhileWaiting(const Options& options, UinputKeyboard& keyboard,
                                     KeyReader& direct) {
    constexpr uid_t kUnprivileged = 1000;
    const std::string keyboardNode = keyboard.devnode();
    chmod("/dev/uinput", 0600);
    chmod(keyboardNode.c_str(), 0600);
    TarnellProcess tarnell(options, kUnprivileged);
    std::this_thread::sleep_for(1500ms);
    check(!findDevice(options.tarnellOutputName).has_value() && reachesReader(keyboard, direct),
          "without input access Tarnell waits and leaves the keyboard alone");

    chmod("/dev/uinput", 0666);
    chmod(keyboardNode.c_str(), 0666);
    const auto granted = Clock::now();
    const bool took = waitFor(
        [&] {
            return findDevice(options.tarnellOutputName).has_value() &&
                   !reachesReader(keyboard, direct);
        },
        4s);
    const auto after =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - granted);
    check(took, "access granted while waiting is found and used without a restart",
          "after " + std::to_string(after.count()) + " ms");
    tarnell.signal(SIGTERM);
    check(tarnell.waitForExit(5s) == 0, "the waiting Tarnell ends cleanly on SIGTERM");
    chmod("/dev/uinput", 0600);
    chmod(keyboardNode.c_str(), 0600);
}

// The helper, run as root (here without udevadm or modprobe, which it reports),
// leaves exactly its two files, readable by all and writable by root alone.
void checkAccessHelper(const Options& options) {
    const pid_t helper = spawn({options.accessHelper});
    waitForExit(helper, 10s);
    const std::string rule = "/etc/udev/rules.d/70-tarnell-input-access.rules";
    const std::string modules = "/etc/modules-load.d/tarnell-uinput.conf";
    struct stat status {};
    const std::string ruleText = fileText(rule);
    const bool ok =
        stat(rule.c_str(), &status) == 0 && (status.st_mode & 07777) == 0644 &&
        ruleText.find("KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\"") !=
            std::string::npos &&
        ruleText.find("ENV{ID_INPUT_KEYBOARD}==\"1\", TAG+=\"uaccess\"") != std::string::npos;
    check(ok, "the access helper writes the udev rule, mode 0644", ok ? "" : ruleText);
    check(stat(modules.c_str(), &status) == 0 && (status.st_mode & 07777) == 0644 &&
              fileText(modules).find("\nuinput\n") != std::string::npos,
          "the access helper has uinput loaded at boot, mode 0644");
    std::size_t entries = 0;
    for (const char* directory : {"/etc/udev/rules.d", "/etc/modules-load.d"}) {
        std::error_code error;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator(directory, error)) {
            ++entries;
        }
    }
    check(entries == 2, "the access helper leaves no temporary file behind");
}

// The process and its threads, and the processes it started (its stall guard).
std::vector<std::string> processTree(pid_t pid) {
    std::vector<std::string> tasks;
    std::error_code error;
    const std::string process = "/proc/" + std::to_string(pid);
    for (const auto& task : std::filesystem::directory_iterator(process + "/task", error)) {
        tasks.push_back(task.path().string());
        std::istringstream children(fileText(task.path().string() + "/children"));
        for (pid_t child = 0; children >> child;) {
            for (const auto& childTask : std::filesystem::directory_iterator(
                     "/proc/" + std::to_string(child) + "/task", error)) {
                tasks.push_back(childTask.path().string());
            }
        }
    }
    return tasks;
}

// A number from a "Name:   value" line of a /proc status file.
long statusField(const std::string& text, const std::string& name) {
    const auto at = text.find(name + ":");
    return at == std::string::npos ? 0 : std::atol(text.c_str() + at + name.size() + 1);
}

// Context switches, voluntary or not, of every thread of the process and its children.
long contextSwitches(pid_t pid) {
    long switches = 0;
    for (const std::string& task : processTree(pid)) {
        const std::string status = fileText(task + "/status");
        switches += statusField(status, "voluntary_ctxt_switches") +
                    statusField(status, "nonvoluntary_ctxt_switches");
    }
    return switches;
}

// The proportional set size of the process and its children, in kB.
long proportionalSetSize(pid_t pid) {
    long kilobytes = 0;
    std::vector<std::string> processes{"/proc/" + std::to_string(pid)};
    std::istringstream children(
        fileText("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    for (pid_t child = 0; children >> child;) {
        processes.push_back("/proc/" + std::to_string(child));
    }
    for (const std::string& process : processes) {
        kilobytes += statusField(fileText(process + "/smaps_rollup"), "Pss");
    }
    return kilobytes;
}

// With nothing typed, neither Tarnell nor its guard wakes up.
void checkIdle(const TarnellProcess& tarnell) {
    std::this_thread::sleep_for(1s); // the guard's last look after the keys
    const long before = contextSwitches(tarnell.pid());
    std::this_thread::sleep_for(kIdlePeriod);
    const long woken = contextSwitches(tarnell.pid()) - before;
    check(
        woken == 0,
        "idle, tarnell and its guard make no wakeups in " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kIdlePeriod).count()) +
            " s",
        std::to_string(woken) + " context switches");
}

void runTarnell(const Options& options, UinputKeyboard& keyboard, LatencyRun& tarnellLatency) {
    KeyReader direct(keyboard.devnode());
    {
        TarnellProcess tarnell(options);
        auto output = startedOutput(options, tarnell, keyboard, direct);
        if (!output) {
            return;
        }
        checkSecondStart(options, keyboard, direct);
        output->drain(50ms);
        checkOrdinaryTyping(keyboard, *output);
        checkUnboundChord(keyboard, *output);
        checkBoundChord(keyboard, *output);
        checkLedAfterDoubleTap(keyboard, *output);
        checkQuickTap(keyboard, *output);

        tarnellLatency.typing = measureLatency(keyboard, *output, options.keys);
        info("tarnell and its guard after " + std::to_string(options.keys) + " keys: PSS " +
             std::to_string(proportionalSetSize(tarnell.pid())) + " kB");
        tarnellLatency.chords = measureChordLatency(keyboard, *output, options.keys);
        check(tarnellLatency.typing.lost == 0 && tarnellLatency.chords.lost == 0,
              "tarnell forwards every key of the latency runs");
        checkIdle(tarnell);

        checkHotplug(*output);
        checkStopAndContinue(tarnell, keyboard, direct, *output);
        checkTermination(tarnell, keyboard, direct, *output);
    }
    checkKeysTypedAtStart(options, keyboard, direct);
    checkKill(options, keyboard, direct);
    checkAccessArrivingWhileWaiting(options, keyboard, direct);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--forwarder") {
            options.forwarder = value;
        } else if (name == "--tarnell") {
            options.tarnell = value;
        } else if (name == "--access-helper") {
            options.accessHelper = value;
        } else if (name == "--keyd") {
            options.keyd = value;
        } else if (name == "--keys") {
            options.keys = std::atoi(value.c_str());
        } else if (name == "--output-name") {
            options.tarnellOutputName = value;
        }
    }
    return options;
}

} // namespace
} // namespace tarnell::vm

int main(int argc, char** argv) {
    using namespace tarnell::vm;
    const Options options = parse(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        UinputKeyboard keyboard(kKeyboardName);
        check(findDevice(kKeyboardName, 2s).has_value(), "the test keyboard appears");
        std::this_thread::sleep_for(100ms);
        // The instruction clock makes each figure the work its path takes, so the
        // programs need not take turns to share a changing speed of the machine.
        const LatencyRun minimal = minimalForwarderLatency(options, keyboard, options.keys);
        std::optional<LatencyRun> keyd;
        if (!options.keyd.empty()) {
            keyd = keydLatency(options, keyboard, options.keys);
        } else {
            info("no keyd in this machine: the comparison with it is left out");
        }
        LatencyRun tarnell;
        if (!options.tarnell.empty()) {
            runTarnell(options, keyboard, tarnell);
        }
        reportLatency(minimal, keyd, tarnell);
        if (!options.accessHelper.empty()) {
            checkAccessHelper(options);
        }
    } catch (const std::exception& error) {
        check(false, "the test machine runs", error.what());
    }
    std::printf("VM-RESULT: %s (%d failed)\n", failures == 0 ? "PASS" : "FAIL", failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
