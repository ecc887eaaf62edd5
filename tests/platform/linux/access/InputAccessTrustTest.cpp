#include "platform/linux/access/InputAccessTrust.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnell::platform {
namespace {

namespace fs = std::filesystem;

// A /dev of our own: nodes are plain files (they open) or UNIX sockets, which
// nobody can open, root included.
class FakeDevices {
public:
    FakeDevices() {
        std::string pattern = (fs::temp_directory_path() / "tarnell-access-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        fs::create_directories(root_ / "input");
    }
    ~FakeDevices() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    FakeDevices(const FakeDevices&) = delete;
    FakeDevices& operator=(const FakeDevices&) = delete;

    fs::path openable(const std::string& name) {
        const fs::path path = root_ / name;
        fs::remove(path);
        std::ofstream(path).put('\n');
        return path;
    }
    fs::path unopenable(const std::string& name) {
        const fs::path path = root_ / name;
        fs::remove(path);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        close(fd);
        return path;
    }
    [[nodiscard]] fs::path path(const std::string& name) const { return root_ / name; }

private:
    fs::path root_;
};

struct Launch {
    fs::path program;
    std::vector<std::string> arguments;
    std::function<void()> finished;
};

class InputAccessTrustTest : public ::testing::Test {
protected:
    InputAccessConfig config(std::vector<fs::path> keyboards) {
        InputAccessConfig result;
        result.keyboardNodes = [keyboards] { return keyboards; };
        result.uinputDevice = devices.path("uinput");
        result.helper = "/usr/bin/true"; // root's, in root's directories
        result.pkexec = "/usr/bin/true";
        result.launch = [this](const fs::path& program, const std::vector<std::string>& arguments,
                               std::function<void()> finished) {
            launches.push_back({program, arguments, std::move(finished)});
            return launchSucceeds;
        };
        return result;
    }

    FakeDevices devices;
    std::vector<Launch> launches;
    bool launchSucceeds = true;
};

TEST_F(InputAccessTrustTest, TrustedOnlyWhenAKeyboardReadsAndUinputWrites) {
    const fs::path keyboard = devices.openable("input/event3");
    devices.openable("uinput");
    EXPECT_TRUE(InputAccessTrust(config({keyboard})).isProcessTrusted());

    devices.unopenable("uinput");
    EXPECT_FALSE(InputAccessTrust(config({keyboard})).isProcessTrusted()) << "uinput refused";

    fs::remove(devices.path("uinput"));
    EXPECT_FALSE(InputAccessTrust(config({keyboard})).isProcessTrusted()) << "no uinput";

    devices.openable("uinput");
    const fs::path locked = devices.unopenable("input/event4");
    EXPECT_FALSE(InputAccessTrust(config({locked})).isProcessTrusted()) << "keyboard refused";
    EXPECT_FALSE(InputAccessTrust(config({})).isProcessTrusted()) << "no keyboard at all";
    EXPECT_TRUE(InputAccessTrust(config({locked, keyboard})).isProcessTrusted())
        << "one readable keyboard is enough";
}

TEST_F(InputAccessTrustTest, OpeningDecidesNotPermissionBits) {
    if (geteuid() == 0) {
        // Root opens a mode-000 file anyway, which is the point: only open() knows.
        const fs::path keyboard = devices.openable("input/event0");
        chmod(keyboard.c_str(), 0);
        chmod(devices.openable("uinput").c_str(), 0);
        EXPECT_TRUE(InputAccessTrust(config({keyboard})).isProcessTrusted());
    } else {
        const fs::path keyboard = devices.openable("input/event0");
        chmod(devices.openable("uinput").c_str(), 0444);
        EXPECT_FALSE(InputAccessTrust(config({keyboard})).isProcessTrusted());
    }
}

TEST_F(InputAccessTrustTest, TrustedProcessIsNeverPrompted) {
    devices.openable("uinput");
    InputAccessTrust trust(config({devices.openable("input/event0")}));
    EXPECT_TRUE(trust.isProcessTrustedWithPrompt());
    EXPECT_TRUE(launches.empty());
}

TEST_F(InputAccessTrustTest, PromptRunsTheHelperThroughPkexecOncePerOpenPrompt) {
    InputAccessTrust trust(config({}));
    EXPECT_FALSE(trust.isProcessTrusted());
    EXPECT_TRUE(launches.empty()) << "the plain check never prompts";

    EXPECT_FALSE(trust.isProcessTrustedWithPrompt());
    ASSERT_EQ(launches.size(), 1U);
    EXPECT_EQ(launches[0].program, "/usr/bin/true");
    EXPECT_EQ(launches[0].arguments, std::vector<std::string>{fs::canonical("/usr/bin/true")});

    EXPECT_FALSE(trust.isProcessTrustedWithPrompt());
    EXPECT_EQ(launches.size(), 1U) << "no second dialog while the first is open";

    launches[0].finished();
    EXPECT_FALSE(trust.isProcessTrustedWithPrompt());
    EXPECT_EQ(launches.size(), 2U) << "asked again once the first prompt has ended";
}

TEST_F(InputAccessTrustTest, FailedLaunchLeavesNoPromptOpen) {
    launchSucceeds = false;
    InputAccessTrust trust(config({}));
    trust.isProcessTrustedWithPrompt();
    trust.isProcessTrustedWithPrompt();
    EXPECT_EQ(launches.size(), 2U);
}

TEST_F(InputAccessTrustTest, PromptEndingAfterTheServiceIsGoneIsHarmless) {
    {
        InputAccessTrust trust(config({}));
        trust.isProcessTrustedWithPrompt();
    }
    ASSERT_EQ(launches.size(), 1U);
    launches[0].finished();
}

TEST_F(InputAccessTrustTest, NoPromptWithoutASafelyInstalledHelper) {
    auto unsafe = config({});
    unsafe.helper = devices.openable("tarnell-access-helper"); // below the world-writable /tmp
    chmod(unsafe.helper.c_str(), 0755);
    EXPECT_FALSE(InputAccessTrust(unsafe).canPrompt());
    EXPECT_FALSE(InputAccessTrust(unsafe).isProcessTrustedWithPrompt());

    auto missing = config({});
    missing.helper = "/usr/libexec/tarnell/not-installed";
    EXPECT_FALSE(InputAccessTrust(missing).isProcessTrustedWithPrompt());

    auto noPkexec = config({});
    noPkexec.pkexec = devices.path("no-pkexec");
    EXPECT_FALSE(InputAccessTrust(noPkexec).isProcessTrustedWithPrompt());

    EXPECT_TRUE(launches.empty());
}

TEST_F(InputAccessTrustTest, SafetyOfTheHelperPath) {
    EXPECT_TRUE(InputAccessTrust::isSafelyInstalled("/usr/bin/true"));
    EXPECT_FALSE(InputAccessTrust::isSafelyInstalled("/usr/bin")) << "not a file";

    // A private directory does not help when a directory above it is world-writable.
    const fs::path helper = devices.openable("helper");
    chmod(helper.c_str(), 0755);
    chmod(helper.parent_path().c_str(), 0755);
    EXPECT_FALSE(InputAccessTrust::isSafelyInstalled(helper));

    // A link that a user could repoint is followed to what it names; the prompt
    // then runs the file it names, not the link.
    const fs::path link = devices.path("link-to-true");
    fs::create_symlink("/usr/bin/true", link);
    EXPECT_TRUE(InputAccessTrust::isSafelyInstalled(link));
    auto linked = config({});
    linked.helper = link;
    InputAccessTrust(linked).isProcessTrustedWithPrompt();
    ASSERT_EQ(launches.size(), 1U);
    EXPECT_EQ(launches[0].arguments, std::vector<std::string>{fs::canonical("/usr/bin/true")});
}

TEST(ReportsLetterKeys, IsFalseForWhatIsNotAnEventDevice) {
    EXPECT_FALSE(reportsLetterKeys("/dev/null"));
    EXPECT_FALSE(reportsLetterKeys("/nonexistent/event0"));
}

} // namespace
} // namespace tarnell::platform
