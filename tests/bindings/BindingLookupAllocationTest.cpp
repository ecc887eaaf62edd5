// The engine looks up a binding for every key pressed with Hyper held; the
// lookup must not allocate for ASCII keys. Counts every allocation the process
// makes.

#include "bindings/BindingJson.h"
#include "bindings/BindingStore.h"
#include "support/FakeApplicationDirectory.h"
#include "support/InMemoryKeyValueStore.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

namespace {
std::atomic<std::size_t> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace tarnell {
namespace {

TEST(BindingLookup, AsciiLookupAllocatesNothing) {
    testing::InMemoryKeyValueStore defaults;
    testing::FakeApplicationDirectory applications;
    std::vector<AppBinding> list;
    for (const auto& key : allKeys()) {
        list.push_back({Uuid::random(), key, "file:///apps/" + key + ".desktop"});
    }
    list.push_back({Uuid::random(), "\xC3\xA9", "file:///apps/e.desktop"}); // one non-ASCII key too
    defaults.values["bindings"] = encodeBindings(list);
    const BindingStore store(defaults, applications);

    const std::size_t before = allocations.load();
    std::size_t found = 0;
    for (const char* key : {"a", "m", "9", "A", ",", "\x1b"}) {
        found += store.bindingForKey(key) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(allocations.load(), before);
    EXPECT_EQ(found, 3u);
}

} // namespace
} // namespace tarnell
