#include "platform/linux/input/KeyEventStream.h"

#include "platform/linux/input/FakeInput.h"

#include <gtest/gtest.h>
#include <vector>

using namespace tarnell::input;
using namespace tarnell::input::testing;
using Out = std::vector<std::string>;

namespace {

class FakeKernel final : public KeyEventStream::KernelKeys {
public:
    bool keysDown(KeyEventStream::KeyState& down) override {
        ++asked;
        down = keys;
        return known;
    }
    KeyEventStream::KeyState keys;
    bool known = true;
    int asked = 0;
};

input_event dropped() {
    input_event event{};
    event.type = EV_SYN;
    event.code = SYN_DROPPED;
    return event;
}

// Reads as the device does: what was made up first, then what the kernel holds,
// as much as fits into `room`.
struct Reader {
    Out read(std::size_t room = 64) {
        std::vector<input_event> buffer(room);
        std::size_t count = stream.takeMadeUp(buffer);
        if (count < room && !kernelQueue.empty()) {
            const std::size_t take = std::min(room - count, kernelQueue.size());
            std::copy_n(kernelQueue.begin(), take,
                        buffer.begin() + static_cast<std::ptrdiff_t>(count));
            kernelQueue.erase(kernelQueue.begin(),
                              kernelQueue.begin() + static_cast<std::ptrdiff_t>(take));
            count += stream.filter(buffer.data() + count, take, kernel);
            count += stream.takeMadeUp(std::span(buffer).subspan(count));
        }
        Out out;
        for (std::size_t i = 0; i < count; ++i) {
            out.push_back(describe(buffer[i]));
        }
        return out;
    }
    Out readAll(std::size_t room = 64) {
        Out all;
        for (Out got = read(room); !got.empty(); got = read(room)) {
            all.insert(all.end(), got.begin(), got.end());
        }
        return all;
    }
    Out type(std::vector<input_event> events) {
        kernelQueue.insert(kernelQueue.end(), events.begin(), events.end());
        return readAll();
    }
    KeyEventStream stream;
    FakeKernel kernel;
    std::vector<input_event> kernelQueue;
};

} // namespace

TEST(KeyEventStream, PassesOrdinaryEventsAndKeepsTheKeyState) {
    Reader reader;
    EXPECT_EQ(reader.type({key(KEY_J, 1), syn(), key(KEY_K, 1), syn()}),
              (Out{"+36", "|", "+37", "|"}));
    EXPECT_TRUE(reader.stream.keyDown(KEY_J));
    EXPECT_TRUE(reader.stream.keyDown(KEY_K));
    EXPECT_EQ(reader.type({key(KEY_J, 0), syn()}), (Out{"-36", "|"}));
    EXPECT_FALSE(reader.stream.keyDown(KEY_J));
    EXPECT_EQ(reader.kernel.asked, 0) << "the kernel is asked only after a drop";
}

TEST(KeyEventStream, AfterADropStandsInTheDifferencesToTheKernelsState) {
    Reader reader;
    reader.type({key(KEY_J, 1), key(KEY_K, 1), syn()});
    // Meanwhile J came up and L went down; the kernel says so after the drop.
    for (const std::uint16_t code : {KEY_A, KEY_K, KEY_L}) {
        reader.kernel.keys.set(code);
    }
    EXPECT_EQ(reader.type({key(KEY_A, 1), dropped(), key(KEY_B, 1), syn(), key(KEY_M, 1), syn()}),
              (Out{"+30", "-36", "+38", "|", "+50", "|"}))
        << "what came before the drop, not the partial report, the differences, what followed";
    EXPECT_EQ(reader.kernel.asked, 1);
    EXPECT_FALSE(reader.stream.keyDown(KEY_J));
    EXPECT_TRUE(reader.stream.keyDown(KEY_L));
    EXPECT_TRUE(reader.stream.keyDown(KEY_M));
    EXPECT_FALSE(reader.stream.keyDown(KEY_B)) << "a key of the partial report is not believed";
}

TEST(KeyEventStream, ADropAcrossReadsAndASmallBufferLoseNothing) {
    Reader reader;
    reader.kernelQueue = {key(KEY_J, 1), syn(), dropped(), key(KEY_K, 1)};
    EXPECT_EQ(reader.readAll(), (Out{"+36", "|"}));
    for (const std::uint16_t code : {KEY_A, KEY_S, KEY_D, KEY_F}) {
        reader.kernel.keys.set(code);
    }
    // The report that ends the drop comes with the next read, into room for two.
    reader.kernelQueue = {syn(), key(KEY_G, 1), syn()};
    EXPECT_EQ(reader.readAll(2), (Out{"+30", "+31", "+32", "+33", "-36", "|", "+34", "|"}));
}

TEST(KeyEventStream, WithoutTheKernelsStateTheReportAfterADropIsStillLeftOut) {
    Reader reader;
    reader.kernel.known = false;
    EXPECT_EQ(reader.type({dropped(), key(KEY_B, 1), syn(), key(KEY_C, 1), syn()}),
              (Out{"+46", "|"}));
}
