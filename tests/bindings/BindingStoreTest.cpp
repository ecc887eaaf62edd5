#include "bindings/BindingStore.h"

#include "bindings/BindingJson.h"
#include "support/FakeApplicationDirectory.h"
#include "support/InMemoryKeyValueStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarnell {
namespace {

using ::testing::ElementsAre;
using testing::FakeApplicationDirectory;
using testing::InMemoryKeyValueStore;
using ::testing::IsEmpty;

std::vector<std::string> keysOf(const std::vector<AppBinding>& bindings) {
    std::vector<std::string> keys;
    for (const auto& binding : bindings) {
        keys.push_back(binding.key);
    }
    return keys;
}

std::vector<AppBinding> bindingsWithKeys(const std::vector<std::string>& keys) {
    std::vector<AppBinding> list;
    for (const auto& key : keys) {
        list.push_back(
            {Uuid::random(), key, "file:///apps/" + std::to_string(list.size()) + ".desktop"});
    }
    return list;
}

class BindingStoreTest : public ::testing::Test {
protected:
    InMemoryKeyValueStore defaults;
    FakeApplicationDirectory applications;

    void storeList(const std::vector<AppBinding>& list) {
        defaults.values["bindings"] = encodeBindings(list);
    }

    // The URL of an application whose display name is `name`.
    std::string appNamed(const std::string& name) {
        const std::string path = "/apps/" + std::to_string(applications.names.size()) + ".desktop";
        applications.names[path] = name;
        return "file://" + path;
    }

    std::vector<AppBinding> storedList() {
        const auto stored = defaults.dataForKey("bindings");
        if (!stored) {
            return {};
        }
        auto list = decodeBindings(*stored);
        EXPECT_TRUE(list) << *stored;
        return list.value_or(std::vector<AppBinding>{});
    }
};

// --- Loading -------------------------------------------------------------

TEST_F(BindingStoreTest, FirstRunListHasChromeSlackFilesInOrderAndIsNotWritten) {
    applications.install("google-chrome.desktop");
    applications.install("slack.desktop");
    applications.install("org.gnome.Nautilus.desktop");
    const BindingStore store(defaults, applications);

    ASSERT_THAT(keysOf(store.bindings()), ElementsAre("c", "s", "f"));
    EXPECT_EQ(store.bindings()[0].appURL, applications.installed["google-chrome.desktop"]);
    EXPECT_EQ(store.bindings()[1].appURL, applications.installed["slack.desktop"]);
    EXPECT_EQ(store.bindings()[2].appURL, applications.installed["org.gnome.Nautilus.desktop"]);
    EXPECT_TRUE(store.hidesFrontmostApp());
    EXPECT_TRUE(store.quickTapTogglesCapsLock());
    EXPECT_THAT(defaults.writes, IsEmpty());
}

TEST_F(BindingStoreTest, FirstRunListTakesTheFirstInstalledCandidateOfEachRow) {
    applications.install("chromium.desktop");
    applications.install("org.chromium.Chromium.desktop");
    applications.install("org.gnome.Nautilus.desktop");
    applications.install("nemo.desktop");
    applications.defaultHandlers["inode/directory"] = "nemo.desktop";
    const BindingStore store(defaults, applications);

    ASSERT_THAT(keysOf(store.bindings()), ElementsAre("c", "f")); // no Slack: its row is skipped
    EXPECT_EQ(store.bindings()[0].appURL, applications.installed["chromium.desktop"]);
    EXPECT_EQ(store.bindings()[1].appURL,
              applications.installed["nemo.desktop"]); // the user's choice wins
}

TEST_F(BindingStoreTest, UninstalledDefaultFileManagerFallsBackToTheKnownOnes) {
    applications.install("pcmanfm.desktop");
    applications.defaultHandlers["inode/directory"] = "uninstalled.desktop";
    const BindingStore store(defaults, applications);

    ASSERT_THAT(keysOf(store.bindings()), ElementsAre("f"));
    EXPECT_EQ(store.bindings()[0].appURL, applications.installed["pcmanfm.desktop"]);
}

TEST_F(BindingStoreTest, NothingInstalledGivesAnEmptyFirstRunList) {
    const BindingStore store(defaults, applications);
    EXPECT_THAT(store.bindings(), IsEmpty());
}

TEST_F(BindingStoreTest, EveryStartRebuildsTheFirstRunListAfresh) {
    applications.install("slack.desktop");
    const BindingStore first(defaults, applications);
    const BindingStore second(defaults, applications);
    ASSERT_EQ(first.bindings().size(), 1u);
    ASSERT_EQ(second.bindings().size(), 1u);
    EXPECT_NE(first.bindings()[0].id, second.bindings()[0].id);
}

TEST_F(BindingStoreTest, StoredEmptyListStaysEmpty) {
    applications.install("google-chrome.desktop");
    defaults.values["bindings"] = std::string("[]");
    const BindingStore store(defaults, applications);
    EXPECT_THAT(store.bindings(), IsEmpty());
}

TEST_F(BindingStoreTest, StoredListIsTakenAsItStandsDuplicatesAndAll) {
    applications.install("google-chrome.desktop");
    const auto list = bindingsWithKeys({"a", "a", "A", "\xC3\xA9", "long key"});
    storeList(list);
    const BindingStore store(defaults, applications);

    EXPECT_EQ(store.bindings(), list);
    EXPECT_THAT(defaults.writes, IsEmpty());
}

TEST_F(BindingStoreTest, UnreadableStoredListIsKeptAsideBeforeTheFirstSaveReplacesIt) {
    applications.install("slack.desktop");
    defaults.values["bindings"] =
        std::string(R"([{"key":"c","appURL":"file:///c.desktop"}])"); // no id
    BindingStore store(defaults, applications);

    ASSERT_THAT(keysOf(store.bindings()), ElementsAre("s"));
    EXPECT_THAT(defaults.writes, IsEmpty()); // untouched until the first change

    const auto changed = bindingsWithKeys({"x"});
    store.setBindings(changed);
    EXPECT_THAT(defaults.writes, ElementsAre("preserve bindings", "setData bindings"));
    EXPECT_EQ(storedList(), changed);

    store.setBindings(changed);
    EXPECT_THAT(defaults.writes,
                ElementsAre("preserve bindings", "setData bindings", "setData bindings"));
}

TEST_F(BindingStoreTest, ReadableStoredListNeedsNoCopy) {
    storeList(bindingsWithKeys({"a"}));
    BindingStore store(defaults, applications);
    store.saveBindings();
    EXPECT_THAT(defaults.writes, ElementsAre("setData bindings"));
}

TEST_F(BindingStoreTest, SettingsReadTrueUnlessStoredOtherwise) {
    {
        const BindingStore store(defaults, applications);
        EXPECT_TRUE(store.hidesFrontmostApp());
        EXPECT_TRUE(store.quickTapTogglesCapsLock());
    }
    defaults.values["hidesFrontmostApp"] = false;
    const BindingStore store(defaults, applications);
    EXPECT_FALSE(store.hidesFrontmostApp());
    EXPECT_TRUE(store.quickTapTogglesCapsLock());
    EXPECT_THAT(defaults.writes, IsEmpty());
}

// --- Assignments -------------------------------------------------------------

// What an observer saw when it was told of a change.
struct Notice {
    std::size_t bindingCount;
    bool hidesFrontmostApp;
    bool quickTapTogglesCapsLock;
    std::size_t writesSoFar;
};

class BindingStoreAssignmentTest : public BindingStoreTest {
protected:
    void SetUp() override {
        storeList(bindingsWithKeys({"c", "s", "f"}));
        store = std::make_unique<BindingStore>(defaults, applications);
        subscription = store->changes().subscribe([this] {
            notices.push_back({store->bindings().size(), store->hidesFrontmostApp(),
                               store->quickTapTogglesCapsLock(), defaults.writes.size()});
        });
    }

    std::unique_ptr<BindingStore> store;
    ChangeNotifier::Subscription subscription;
    std::vector<Notice> notices;
};

TEST_F(BindingStoreAssignmentTest, ListIsAnnouncedThenAssignedThenSaved) {
    store->setBindings(bindingsWithKeys({"x"}));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].bindingCount, 3u); // the old list, still in place
    EXPECT_EQ(notices[0].writesSoFar, 0u);
    EXPECT_EQ(storedList(), store->bindings());
}

TEST_F(BindingStoreAssignmentTest, UnchangedListIsStillAnnouncedAndSaved) {
    store->setBindings(store->bindings());
    store->setBindings(store->bindings());
    EXPECT_EQ(notices.size(), 2u);
    EXPECT_THAT(defaults.writes, ElementsAre("setData bindings", "setData bindings"));
}

TEST_F(BindingStoreAssignmentTest, SettingsAreAnnouncedThenAssignedThenSavedEvenWhenUnchanged) {
    store->setHidesFrontmostApp(true);
    store->setHidesFrontmostApp(false);
    store->setQuickTapTogglesCapsLock(false);

    ASSERT_EQ(notices.size(), 3u);
    EXPECT_TRUE(notices[1].hidesFrontmostApp); // told before the value changed
    EXPECT_EQ(notices[1].writesSoFar, 1u);
    EXPECT_TRUE(notices[2].quickTapTogglesCapsLock);
    EXPECT_THAT(defaults.writes,
                ElementsAre("setBool hidesFrontmostApp", "setBool hidesFrontmostApp",
                            "setBool quickTapTogglesCapsLock"));
    EXPECT_EQ(defaults.boolForKey("hidesFrontmostApp"), false);
    EXPECT_EQ(defaults.boolForKey("quickTapTogglesCapsLock"), false);
    EXPECT_FALSE(store->hidesFrontmostApp());
}

TEST_F(BindingStoreAssignmentTest, ListThatCouldNotBeReadBackIsNotSaved) {
    auto list = bindingsWithKeys({"a"});
    list[0].appURL = "not a url";
    store->setBindings(list);
    EXPECT_EQ(store->bindings(), list); // kept in memory
    EXPECT_THAT(defaults.writes, IsEmpty());
}

// --- Lookup and free keys ------------------------------------------------------

TEST_F(BindingStoreTest, BindingForKeyFindsTheFirstExactMatch) {
    const auto list = bindingsWithKeys({"b", "a", "a", "\xC3\xA9"});
    storeList(list);
    const BindingStore store(defaults, applications);

    ASSERT_NE(store.bindingForKey("a"), nullptr);
    EXPECT_EQ(store.bindingForKey("a"), &store.bindings()[1]);
    EXPECT_EQ(store.bindingForKey("A"), nullptr);
    EXPECT_EQ(store.bindingForKey("z"), nullptr);
    EXPECT_EQ(store.bindingForKey("e\xCC\x81"), &store.bindings()[3]); // canonically equivalent
}

TEST_F(BindingStoreTest, BindingForKeyOnAnEmptyListFindsNothing) {
    defaults.values["bindings"] = std::string("[]");
    const BindingStore store(defaults, applications);
    EXPECT_EQ(store.bindingForKey("a"), nullptr);
}

TEST(AllKeys, LettersThenDigitsBuiltOnce) {
    const auto& keys = allKeys();
    ASSERT_EQ(keys.size(), 36u);
    EXPECT_EQ(keys.front(), "a");
    EXPECT_EQ(keys[25], "z");
    EXPECT_EQ(keys[26], "0");
    EXPECT_EQ(keys.back(), "9");
    EXPECT_EQ(&allKeys(), &keys);
}

TEST_F(BindingStoreTest, AvailableKeysLeaveOutHeldKeysButTheCurrentOne) {
    storeList(bindingsWithKeys({"c", "s", "f"}));
    const BindingStore store(defaults, applications);

    const auto withCurrent = store.availableKeys("c");
    ASSERT_EQ(withCurrent.size(), 34u);
    EXPECT_THAT(std::vector(withCurrent.begin(), withCurrent.begin() + 4),
                ElementsAre("a", "b", "c", "d"));
    EXPECT_EQ(std::count(withCurrent.begin(), withCurrent.end(), "s"), 0);

    const auto free = store.availableKeys();
    ASSERT_EQ(free.size(), 33u);
    EXPECT_THAT(std::vector(free.begin(), free.begin() + 3), ElementsAre("a", "b", "d"));

    EXPECT_EQ(store.availableKeys("\xC3\xA9"), free); // a current key outside the 36 is not added
    EXPECT_EQ(store.availableKeys("C"), free);
}

// --- Adding and removing ---------------------------------------------------------

TEST_F(BindingStoreTest, AddAppTakesTheFirstFreeCharacterOfTheName) {
    defaults.values["bindings"] = std::string("[]");
    BindingStore store(defaults, applications);
    const std::string mail = appNamed("Mail");
    for (int i = 0; i < 5; ++i) {
        store.addApp(mail);
    }
    EXPECT_THAT(keysOf(store.bindings()), ElementsAre("m", "a", "i", "l", "b"));
    EXPECT_EQ(store.bindings().back().appURL, mail);
    EXPECT_EQ(store.bindings().size(), 5u); // adding the same application again is allowed
}

TEST_F(BindingStoreTest, AddAppAppendsAnnouncesAndSaves) {
    storeList(bindingsWithKeys({"x"}));
    BindingStore store(defaults, applications);
    int notices = 0;
    const auto subscription = store.changes().subscribe([&] { ++notices; });
    const auto url = appNamed("Zed");
    store.addApp(url);

    ASSERT_THAT(keysOf(store.bindings()), ElementsAre("x", "z")); // lower case of the capital
    EXPECT_EQ(store.bindings()[1].appURL, url);
    EXPECT_NE(store.bindings()[1].id, store.bindings()[0].id);
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(storedList(), store.bindings());
}

TEST_F(BindingStoreTest, AddAppWalksUserPerceivedCharacters) {
    defaults.values["bindings"] = std::string("[]");
    BindingStore store(defaults, applications);
    store.addApp(appNamed("A\xCC\x81rbol")); // decomposed Á: "á" is one character, not "a"
    store.addApp(appNamed("\xC3\x89"
                          "cran"));      // precomposed É
    store.addApp(appNamed("\xC4\xB0x")); // İ lower-cases to i + combining dot
    store.addApp(appNamed("7-Zip"));
    store.addApp(appNamed("\xE2\x84\xAA"
                          "q")); // KELVIN SIGN lower-cases to k
    EXPECT_THAT(keysOf(store.bindings()), ElementsAre("r", "c", "x", "7", "k"));
}

TEST_F(BindingStoreTest, AddAppFallsBackToTheFirstFreeKeyLettersFirst) {
    defaults.values["bindings"] = std::string("[]");
    BindingStore store(defaults, applications);
    store.addApp(appNamed("!!! ???"));
    store.addApp(appNamed(""));
    EXPECT_THAT(keysOf(store.bindings()), ElementsAre("a", "b"));

    std::vector<std::string> letters(allKeys().begin(), allKeys().begin() + 26);
    storeList(bindingsWithKeys(letters));
    BindingStore full(defaults, applications);
    full.addApp(appNamed("\xCE\xA9mega"));
    EXPECT_EQ(full.bindings().back().key, "0");
}

TEST_F(BindingStoreTest, AddAppWithAllKeysHeldChangesNothing) {
    storeList(bindingsWithKeys(allKeys()));
    BindingStore store(defaults, applications);
    const auto before = store.bindings();
    int notices = 0;
    const auto subscription = store.changes().subscribe([&] { ++notices; });
    store.addApp(appNamed("Mail"));

    EXPECT_EQ(store.bindings(), before);
    EXPECT_EQ(notices, 0);
    EXPECT_THAT(defaults.writes, IsEmpty());
}

TEST_F(BindingStoreTest, AddAppAsksForTheNameOfTheDecodedPath) {
    defaults.values["bindings"] = std::string("[]");
    BindingStore store(defaults, applications);
    applications.names["/opt/My Apps/gimp.desktop"] = "GNU Image Manipulation Program";
    store.addApp("file:///opt/My%20Apps/gimp.desktop");

    EXPECT_THAT(applications.pathsAsked, ElementsAre("/opt/My Apps/gimp.desktop"));
    ASSERT_THAT(keysOf(store.bindings()), ElementsAre("g"));
    EXPECT_EQ(store.bindings()[0].appURL, "file:///opt/My%20Apps/gimp.desktop"); // unchanged
}

TEST_F(BindingStoreTest, AddAppRefusesUrlsThatCouldNotBeStored) {
    defaults.values["bindings"] = std::string("[]");
    BindingStore store(defaults, applications);
    store.addApp("/apps/plain path.desktop");
    store.addApp("");
    EXPECT_THAT(store.bindings(), IsEmpty());
    EXPECT_THAT(defaults.writes, IsEmpty());
}

TEST_F(BindingStoreTest, RemoveBindingMatchesByIdOnly) {
    storeList(bindingsWithKeys({"a", "b", "c"}));
    BindingStore store(defaults, applications);
    AppBinding edited = store.bindings()[1];
    edited.key = "z";
    edited.appURL = "file:///elsewhere.desktop";
    store.removeBinding(edited);

    EXPECT_THAT(keysOf(store.bindings()), ElementsAre("a", "c"));
    EXPECT_EQ(storedList(), store.bindings());
}

TEST_F(BindingStoreTest, RemoveBindingOfAnUnknownIdStillAnnouncesAndSaves) {
    storeList(bindingsWithKeys({"a", "b"}));
    BindingStore store(defaults, applications);
    const auto before = store.bindings();
    int notices = 0;
    const auto subscription = store.changes().subscribe([&] { ++notices; });
    store.removeBinding(AppBinding{Uuid::random(), "a", before[0].appURL});

    EXPECT_EQ(store.bindings(), before);
    EXPECT_EQ(notices, 1);
    EXPECT_THAT(defaults.writes, ElementsAre("setData bindings"));
}

TEST_F(BindingStoreTest, RemoveBindingRemovesEveryRecordWithThatId) {
    auto list = bindingsWithKeys({"a", "b", "c"});
    list[2].id = list[0].id;
    storeList(list);
    BindingStore store(defaults, applications);
    store.removeBinding(list[0]);
    EXPECT_THAT(keysOf(store.bindings()), ElementsAre("b"));
}

} // namespace
} // namespace tarnell
