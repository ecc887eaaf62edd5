#include "platform/linux/settings/SettingsFileStore.h"

#include "bindings/StoredJson.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <sys/stat.h>

namespace tarnell::platform {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using namespace std::string_literals;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> filesIn(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sideFilesOf(const fs::path& directory, const std::string& name) {
    std::vector<std::string> sides;
    for (const auto& file : filesIn(directory)) {
        if (file.starts_with(name + ".unreadable-")) {
            sides.push_back(file);
        }
    }
    return sides;
}

// Sets the file's modification time to `seconds` ago.
void makeOlder(const fs::path& path, int seconds) {
    const timespec when{std::time(nullptr) - seconds, 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// A JSON value nested exactly `depth` levels deep, of every kind, with text that
// needs escaping.
nlohmann::ordered_json randomValue(std::mt19937& random, int depth) {
    static const std::vector<std::string> texts{"", "dark", "a \"quoted\" \\ line\n",
                                                "caf\xC3\xA9 \xE2\x87\xAA", "\x01\x1F/"};
    if (depth == 0) {
        switch (random() % 5) {
        case 0:
            return nullptr;
        case 1:
            return random() % 2 == 0;
        case 2:
            return static_cast<int>(random() % 2001) - 1000;
        case 3:
            return std::ldexp(static_cast<double>(random() % 1000),
                              -static_cast<int>(random() % 8));
        default:
            return texts[random() % texts.size()];
        }
    }
    // The deepest member among a few shallow ones.
    auto members = nlohmann::ordered_json::array();
    const auto deepest = random() % 3;
    for (unsigned i = 0; i < 3; ++i) {
        if (i == deepest) {
            members.push_back(randomValue(random, depth - 1));
        } else if (random() % 2 == 0) {
            members.push_back(randomValue(random, std::min(depth - 1, 1)));
        }
    }
    if (random() % 2 == 0) {
        return members;
    }
    auto object = nlohmann::ordered_json::object();
    for (auto& member : members) {
        object[texts[random() % texts.size()] + std::to_string(object.size())] = std::move(member);
    }
    return object;
}

class SettingsFileStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "settings-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        directory = root / "config" / "tarnell";
    }
    void TearDown() override { fs::remove_all(root); }

    void makeDirectory() { fs::create_directories(directory); }

    fs::path root;
    fs::path directory;
};

TEST_F(SettingsFileStoreTest, EmptyStoreHasNoValues) {
    SettingsFileStore store(directory);
    EXPECT_FALSE(store.dataForKey("bindings"));
    EXPECT_FALSE(store.boolForKey("hidesFrontmostApp"));
    EXPECT_FALSE(fs::exists(directory)); // reading creates nothing
}

TEST_F(SettingsFileStoreTest, FirstWriteCreatesAPrivateDirectory) {
    SettingsFileStore store(directory);
    store.setBool("hidesFrontmostApp", false);

    struct stat status {};
    ASSERT_EQ(::stat(directory.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(store.boolForKey("hidesFrontmostApp"), false);
}

TEST_F(SettingsFileStoreTest, ValuesSurviveANewStoreOnTheSameDirectory) {
    const std::string bytes = "[{\"key\":\"\xC3\xA9\"}]\0tail"s;
    {
        SettingsFileStore store(directory);
        store.setData("bindings", bytes);
        store.setBool("hidesFrontmostApp", false);
        store.setBool("quickTapTogglesCapsLock", true);
    }
    SettingsFileStore store(directory);
    EXPECT_EQ(store.dataForKey("bindings"), bytes);
    EXPECT_EQ(readFile(directory / "bindings.json"), bytes); // the file holds exactly the bytes
    EXPECT_EQ(store.boolForKey("hidesFrontmostApp"), false);
    EXPECT_EQ(store.boolForKey("quickTapTogglesCapsLock"), true);
    EXPECT_FALSE(store.boolForKey("bindings"));
}

TEST_F(SettingsFileStoreTest, WritesLeaveNoTemporaryFilesBehind) {
    SettingsFileStore store(directory);
    for (int i = 0; i < 5; ++i) {
        store.setData("bindings", std::to_string(i));
        store.setBool("hidesFrontmostApp", i % 2 == 0);
    }
    EXPECT_THAT(filesIn(directory), ElementsAre("bindings.json", "settings.json"));
    EXPECT_EQ(store.dataForKey("bindings"), "4");
}

TEST_F(SettingsFileStoreTest, FailedWriteKeepsTheOldValueAndLeavesNoTemporaryFile) {
    makeDirectory();
    fs::create_directory(directory / "bindings.json"); // a rename cannot replace it
    SettingsFileStore store(directory);
    store.setData("bindings", "[]");
    EXPECT_TRUE(fs::is_directory(directory / "bindings.json"));
    EXPECT_THAT(filesIn(directory), ElementsAre("bindings.json"));
}

TEST_F(SettingsFileStoreTest, SettingsFileIsReadableJsonThatKeepsUnknownMembers) {
    makeDirectory();
    writeFile(directory / "settings.json", R"({"theme": "dark", "hidesFrontmostApp": true})");
    SettingsFileStore store(directory);
    store.setBool("hidesFrontmostApp", false);
    store.setBool("quickTapTogglesCapsLock", true);

    const std::string text = readFile(directory / "settings.json");
    EXPECT_NE(text.find('\n'), std::string::npos); // pretty-printed for people
    const auto settings = nlohmann::json::parse(text);
    EXPECT_EQ(settings, nlohmann::json::parse(R"({"theme":"dark","hidesFrontmostApp":false,
                                                  "quickTapTogglesCapsLock":true})"));
    EXPECT_LT(text.find("theme"), text.find("hidesFrontmostApp")); // member order kept
}

TEST_F(SettingsFileStoreTest, RewritesKeepEveryMemberAndGrowOnlyByTheirOwnLines) {
    makeDirectory();
    std::mt19937 random(15);
    for (int round = 0; round < 60; ++round) {
        auto settings = nlohmann::ordered_json::object();
        for (auto count = 1 + random() % 5; count > 0; --count) {
            // Deep enough to reach the limit, with the object around it.
            const int depth = static_cast<int>(random() % kStoredJsonMaxDepth);
            settings["member" + std::to_string(count)] = randomValue(random, depth);
        }
        const std::string stored = round % 2 == 0 ? settings.dump() : settings.dump(2);
        writeFile(directory / "settings.json", stored);
        const bool value = random() % 2 == 0;
        SettingsFileStore(directory).setBool("hidesFrontmostApp", value);

        const std::string text = readFile(directory / "settings.json");
        settings["hidesFrontmostApp"] = value;
        EXPECT_EQ(nlohmann::ordered_json::parse(text), settings) << stored;
        EXPECT_LE(text.size(), 2 * stored.size() + 64) << stored;
        EXPECT_EQ(SettingsFileStore(directory).boolForKey("hidesFrontmostApp"), value);
        EXPECT_THAT(sideFilesOf(directory, "settings.json"), ::testing::IsEmpty());
    }
}

TEST_F(SettingsFileStoreTest, FilesBeyondTheLimitsAreUnreadableAndKeptAside) {
    makeDirectory();
    const std::string deep = R"({"hidesFrontmostApp": false, "x": )" + std::string(100000, '[') +
                             std::string(100000, ']') + "}";
    std::string large = R"({"hidesFrontmostApp": false})";
    large.resize(kStoredJsonMaxBytes + 1, ' ');
    for (const auto& settings : {deep, large}) {
        fs::remove_all(directory);
        makeDirectory();
        writeFile(directory / "settings.json", settings);
        writeFile(directory / "bindings.json", large);
        SettingsFileStore store(directory);
        EXPECT_FALSE(store.boolForKey("hidesFrontmostApp"));
        EXPECT_FALSE(store.dataForKey("bindings"));

        store.setBool("quickTapTogglesCapsLock", true);
        store.setData("bindings", "[]");
        EXPECT_EQ(readFile(directory / "settings.json"),
                  "{\n    \"quickTapTogglesCapsLock\": true\n}\n");
        EXPECT_EQ(store.dataForKey("bindings"), "[]");
        const auto settingsSides = sideFilesOf(directory, "settings.json");
        const auto bindingsSides = sideFilesOf(directory, "bindings.json");
        ASSERT_EQ(settingsSides.size(), 1u);
        ASSERT_EQ(bindingsSides.size(), 1u);
        EXPECT_EQ(readFile(directory / settingsSides[0]), settings);
        EXPECT_EQ(readFile(directory / bindingsSides[0]), large);
    }
    // What would not be read back is not written.
    SettingsFileStore store(directory);
    store.setData("bindings", large);
    EXPECT_EQ(store.dataForKey("bindings"), "[]");
}

TEST_F(SettingsFileStoreTest, TextAfterTheJsonMakesTheSettingsFileUnreadable) {
    makeDirectory();
    const std::string stored = "{\"hidesFrontmostApp\": false}\n\0{\"more\": 1}"s;
    writeFile(directory / "settings.json", stored);
    SettingsFileStore store(directory);
    EXPECT_FALSE(store.boolForKey("hidesFrontmostApp"));
    store.setBool("quickTapTogglesCapsLock", true);
    const auto sides = sideFilesOf(directory, "settings.json");
    ASSERT_EQ(sides.size(), 1u);
    EXPECT_EQ(readFile(directory / sides[0]), stored);
}

TEST_F(SettingsFileStoreTest, BooleansComeFromTrueFalseZeroAndOneOnly) {
    makeDirectory();
    writeFile(directory / "settings.json",
              R"({"t": true, "f": false, "zero": 0, "one": 1, "oneReal": 1.0,
        "zeroReal": -0.0, "two": 2, "half": 0.5, "minusOne": -1, "text": "true", "null": null,
        "list": [true], "object": {}})");
    SettingsFileStore store(directory);
    EXPECT_EQ(store.boolForKey("t"), true);
    EXPECT_EQ(store.boolForKey("f"), false);
    EXPECT_EQ(store.boolForKey("zero"), false);
    EXPECT_EQ(store.boolForKey("one"), true);
    EXPECT_EQ(store.boolForKey("oneReal"), true);
    EXPECT_EQ(store.boolForKey("zeroReal"), false);
    for (const char* key :
         {"two", "half", "minusOne", "text", "null", "list", "object", "absent"}) {
        EXPECT_FALSE(store.boolForKey(key)) << key;
    }
}

TEST_F(SettingsFileStoreTest, UnreadableSettingsFileIsCopiedAsideOnceBeforeBeingReplaced) {
    makeDirectory();
    const std::string broken = "{\"hidesFrontmostApp\": fals";
    writeFile(directory / "settings.json", broken);
    SettingsFileStore store(directory);
    EXPECT_FALSE(store.boolForKey("hidesFrontmostApp"));

    store.setBool("hidesFrontmostApp", true);
    store.setBool("quickTapTogglesCapsLock", false);

    const auto sides = sideFilesOf(directory, "settings.json");
    ASSERT_EQ(sides.size(), 1u);
    EXPECT_EQ(readFile(directory / sides[0]), broken);
    EXPECT_EQ(store.boolForKey("hidesFrontmostApp"), true);
    EXPECT_EQ(store.boolForKey("quickTapTogglesCapsLock"), false);
}

TEST_F(SettingsFileStoreTest, SettingsFileOfAnotherJsonKindCountsAsUnreadable) {
    makeDirectory();
    writeFile(directory / "settings.json", "[true]");
    SettingsFileStore store(directory);
    store.setBool("hidesFrontmostApp", true);
    const auto sides = sideFilesOf(directory, "settings.json");
    ASSERT_EQ(sides.size(), 1u);
    EXPECT_EQ(readFile(directory / sides[0]), "[true]");
}

TEST_F(SettingsFileStoreTest, ExistingSideFilesAreNeverOverwritten) {
    makeDirectory();
    writeFile(directory / "settings.json", "broken");
    // Take the names of this second and the next.
    std::vector<fs::path> taken;
    for (std::time_t when = std::time(nullptr); taken.size() < 2; ++when) {
        std::tm local{};
        ::localtime_r(&when, &local);
        char stamp[32] = {};
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        taken.push_back(directory / ("settings.json.unreadable-" + std::string(stamp)));
        writeFile(taken.back(), "older copy");
    }
    SettingsFileStore store(directory);
    store.setBool("hidesFrontmostApp", true);

    for (const auto& path : taken) {
        EXPECT_EQ(readFile(path), "older copy");
    }
    const auto sides = sideFilesOf(directory, "settings.json");
    ASSERT_EQ(sides.size(), 3u);
    int copies = 0;
    for (const auto& side : sides) {
        copies += readFile(directory / side) == "broken" ? 1 : 0;
    }
    EXPECT_EQ(copies, 1);
}

TEST_F(SettingsFileStoreTest, SettingsFileThatCannotBeReadIsNotReplaced) {
    makeDirectory();
    fs::create_directory(directory / "settings.json");
    SettingsFileStore store(directory);
    store.setBool("hidesFrontmostApp", true);
    EXPECT_TRUE(fs::is_directory(directory / "settings.json"));
    EXPECT_THAT(filesIn(directory), ElementsAre("settings.json"));
}

TEST_F(SettingsFileStoreTest, PreservedDataValueSurvivesTheNextWrite) {
    makeDirectory();
    writeFile(directory / "bindings.json", "not a list");
    SettingsFileStore store(directory);
    store.preserveUnreadable("bindings");
    store.setData("bindings", "[]");

    const auto sides = sideFilesOf(directory, "bindings.json");
    ASSERT_EQ(sides.size(), 1u);
    EXPECT_EQ(readFile(directory / sides[0]), "not a list");
    EXPECT_EQ(store.dataForKey("bindings"), "[]");
}

TEST_F(SettingsFileStoreTest, PreservingAnAbsentValueDoesNothing) {
    SettingsFileStore store(directory);
    store.preserveUnreadable("bindings");
    store.setData("bindings", "[]");
    EXPECT_THAT(filesIn(directory), ElementsAre("bindings.json"));
}

TEST_F(SettingsFileStoreTest, DataWaitsWhileItsUnreadableValueCannotBeCopied) {
    makeDirectory();
    fs::create_directory(directory / "bindings.json"); // a value that cannot be read or copied
    SettingsFileStore store(directory);
    store.preserveUnreadable("bindings");
    store.setData("bindings", "[]");
    EXPECT_TRUE(fs::is_directory(directory / "bindings.json"));
    EXPECT_THAT(filesIn(directory), ElementsAre("bindings.json"));

    fs::remove(directory / "bindings.json"); // once the obstacle is gone, writes go through
    store.setData("bindings", "[]");
    EXPECT_EQ(store.dataForKey("bindings"), "[]");
}

TEST_F(SettingsFileStoreTest, DataThatCouldNotBeReadIsNotReplacedBlindly) {
    makeDirectory();
    fs::create_directory(directory / "bindings.json");
    SettingsFileStore store(directory);
    EXPECT_FALSE(store.dataForKey("bindings")); // looks absent to the caller
    store.setData("bindings", "[]");
    EXPECT_TRUE(fs::is_directory(directory / "bindings.json"));
}

TEST_F(SettingsFileStoreTest, FifoInPlaceOfAFileReadsAsUnreadableWithoutBlocking) {
    makeDirectory();
    ASSERT_EQ(::mkfifo((directory / "settings.json").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((directory / "bindings.json").c_str(), 0600), 0);
    SettingsFileStore store(directory);
    EXPECT_FALSE(store.dataForKey("bindings"));
    EXPECT_FALSE(store.boolForKey("hidesFrontmostApp"));
    store.setBool("hidesFrontmostApp", true);
    EXPECT_TRUE(fs::is_fifo(directory / "settings.json"));
}

TEST_F(SettingsFileStoreTest, SavesNeverReplaceWhatIsNotARegularFile) {
    makeDirectory();
    ASSERT_EQ(::mkfifo((directory / "bindings.json").c_str(), 0600), 0);
    fs::create_directories(directory / "settings.json" / "kept");
    fs::create_symlink("/dev/zero", directory / "device.json");
    SettingsFileStore store(directory); // nothing read first
    store.setData("bindings", "[]");
    store.setData("device", "[]");
    store.setBool("hidesFrontmostApp", true);
    EXPECT_FALSE(store.dataForKey("device"));

    EXPECT_TRUE(fs::is_fifo(directory / "bindings.json"));
    EXPECT_TRUE(fs::is_directory(directory / "settings.json" / "kept"));
    EXPECT_EQ(fs::read_symlink(directory / "device.json"), "/dev/zero");
    EXPECT_THAT(filesIn(directory), ElementsAre("bindings.json", "device.json", "settings.json"));
}

TEST_F(SettingsFileStoreTest, SymbolicLinksStayAndTheFilesTheyNameAreReplaced) {
    // Dotfile managers link the files into a repository; links may be relative and
    // lead through other links, each resolved from its own directory.
    const fs::path dotfiles = root / "dotfiles";
    const fs::path elsewhere = root / "config" / "elsewhere";
    fs::create_directories(dotfiles / "tarnell");
    fs::create_directories(elsewhere);
    makeDirectory();
    writeFile(dotfiles / "tarnell" / "bindings.json", "old list");
    writeFile(dotfiles / "settings-real.json", R"({"hidesFrontmostApp": false})");
    fs::create_symlink("../../dotfiles/tarnell/bindings.json", directory / "bindings.json");
    fs::create_symlink("../elsewhere/settings.json", directory / "settings.json");
    fs::create_symlink("../../dotfiles/settings-real.json", elsewhere / "settings.json");

    SettingsFileStore store(directory);
    EXPECT_EQ(store.dataForKey("bindings"), "old list");
    EXPECT_EQ(store.boolForKey("hidesFrontmostApp"), false);
    store.setData("bindings", "new list");
    store.setBool("hidesFrontmostApp", true);

    EXPECT_EQ(fs::read_symlink(directory / "bindings.json"),
              "../../dotfiles/tarnell/bindings.json");
    EXPECT_EQ(fs::read_symlink(directory / "settings.json"), "../elsewhere/settings.json");
    EXPECT_EQ(fs::read_symlink(elsewhere / "settings.json"), "../../dotfiles/settings-real.json");
    EXPECT_EQ(readFile(dotfiles / "tarnell" / "bindings.json"), "new list");
    EXPECT_EQ(nlohmann::json::parse(readFile(dotfiles / "settings-real.json")),
              nlohmann::json::parse(R"({"hidesFrontmostApp": true})"));
    EXPECT_THAT(filesIn(directory), ElementsAre("bindings.json", "settings.json"));
    EXPECT_THAT(filesIn(dotfiles / "tarnell"), ElementsAre("bindings.json"));
    EXPECT_THAT(filesIn(dotfiles), ElementsAre("settings-real.json", "tarnell"));
}

TEST_F(SettingsFileStoreTest, LinksThatLeadNowhereAreUnreadableAndLeftInPlace) {
    for (const char* target : {"missing/file.json", "loop.json"}) {
        fs::remove_all(directory);
        makeDirectory();
        fs::create_directory(directory / "missing");
        for (const char* name : {"bindings.json", "settings.json"}) {
            fs::create_symlink(target, directory / name);
        }
        fs::create_symlink("bindings.json", directory / "loop.json");

        SettingsFileStore store(directory);
        EXPECT_FALSE(store.dataForKey("bindings"));
        EXPECT_FALSE(store.boolForKey("hidesFrontmostApp"));
        store.preserveUnreadable("bindings");
        store.setData("bindings", "[]");
        store.setBool("hidesFrontmostApp", true);

        for (const char* name : {"bindings.json", "settings.json"}) {
            EXPECT_EQ(fs::read_symlink(directory / name), target) << name;
        }
        EXPECT_THAT(filesIn(directory),
                    ElementsAre("bindings.json", "loop.json", "missing", "settings.json"));
        EXPECT_TRUE(fs::is_empty(directory / "missing"));
    }
}

TEST_F(SettingsFileStoreTest, StaleTemporariesOfItsOwnFilesAreRemovedAtStart) {
    makeDirectory();
    const int stale = 11 * 60;
    struct Entry {
        const char* name;
        int age;
        bool removed;
    };
    const Entry files[] = {
        {".settings.json.tmp-AbC123", stale, true},
        {".bindings.json.tmp-x1Y2z3", stale, true},
        {".other_key-2.json.tmp-000000", 24 * 60 * 60, true},
        {"bindings.json", stale, false},
        {".bindings.json.tmp-Fresh1", 0, false},         // may be another Tarnell's save
        {".settings.json.tmp-Young1", 9 * 60, false},    // likewise
        {".notes.txt.tmp-ABCDEF", stale, false},         // not one of its files
        {".bad key.json.tmp-ABCDEF", stale, false},      // likewise
        {".bindings.json.tmp-AB12", stale, false},       // not its temporary's name
        {".bindings.json.tmp-ABC-12", stale, false},     // likewise
        {".bindings.json.tmp-ABCDEF.bak", stale, false}, // likewise
        {"bindings.json.tmp-ABCDEF", stale, false},      // likewise
    };
    std::vector<std::string> expected{".bindings.json.tmp-Link12", ".settings.json.tmp-Folder"};
    for (const auto& [name, age, removed] : files) {
        writeFile(directory / name, "x");
        makeOlder(directory / name, age);
        if (!removed) {
            expected.emplace_back(name);
        }
    }
    // Only files go.
    fs::create_directory(directory / ".settings.json.tmp-Folder");
    fs::create_symlink("bindings.json", directory / ".bindings.json.tmp-Link12");
    makeOlder(directory / ".settings.json.tmp-Folder", stale);
    makeOlder(directory / ".bindings.json.tmp-Link12", stale);

    SettingsFileStore store(directory);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesIn(directory), expected);
}

TEST_F(SettingsFileStoreTest, KeysThatAreNoPlainFileNamesAreIgnored) {
    SettingsFileStore store(directory);
    store.setData("../escape", "x");
    store.setData("settings", "x"); // would clash with the Boolean values
    store.setData("", "x");
    store.setData(".hidden", "x");
    EXPECT_FALSE(fs::exists(directory));
    EXPECT_FALSE(fs::exists(directory.parent_path() / "escape.json"));
    EXPECT_FALSE(store.dataForKey("settings"));
}

TEST(SettingsFileStoreDirectory, FollowsXdgConfigHomeWhenAbsolute) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedConfig != nullptr ? savedConfig : "";
    ::setenv("HOME", "/home/someone", 1);

    ::setenv("XDG_CONFIG_HOME", "/custom/config", 1);
    EXPECT_EQ(SettingsFileStore::defaultDirectory(), fs::path("/custom/config/tarnell"));
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(SettingsFileStore::defaultDirectory(), fs::path("/home/someone/.config/tarnell"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsFileStore::defaultDirectory(), fs::path("/home/someone/.config/tarnell"));
    EXPECT_EQ(SettingsFileStore().directory(), fs::path("/home/someone/.config/tarnell"));

    if (savedConfig != nullptr) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    }
}

} // namespace
} // namespace tarnell::platform
