#include "platform/linux/workspace/TestDesktopEntries.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarnell::platform::testing {

TestDesktopEntries::TestDesktopEntries() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "workspace-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no temporary directory");
    }
    root_ = pattern;
    for (const auto& dir : {root_ + "/home/applications", firstDataDir() + "/applications",
                            secondDataDir() + "/applications", root_ + "/bin"}) {
        std::filesystem::create_directories(dir);
    }
    setenv("XDG_DATA_HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_DATA_DIRS", (firstDataDir() + ":" + secondDataDir()).c_str(), 1);
}

TestDesktopEntries::~TestDesktopEntries() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TestDesktopEntries::addEntry(const std::string& dataDir, const std::string& desktopId,
                                         const std::string& exec, const std::string& extraLines) {
    const auto path = dataDir + "/applications/" + desktopId;
    std::ofstream out(path);
    out << "[Desktop Entry]\nType=Application\nName=" << desktopId << "\nExec=" << exec << "\n"
        << extraLines;
    return path;
}

std::string TestDesktopEntries::addScript(const std::string& name, const std::string& body) {
    const auto path = root_ + "/bin/" + name;
    {
        std::ofstream out(path);
        out << "#!/bin/sh\n" << body << "\n";
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

std::string TestDesktopEntries::addLaunchRecorder() {
    return addScript("record-launch", "env > \"$1.part\" && mv \"$1.part\" \"$1\"");
}

std::string TestDesktopEntries::addLaunchCounter() {
    return addScript("count-launch",
                     "out=$1; shift\n"
                     "echo \"${DESKTOP_STARTUP_ID}${XDG_ACTIVATION_TOKEN}\" >> \"$out\"\n"
                     "[ $# -eq 0 ] || exec \"$@\"");
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string fileUrl(const std::string& path) {
    // The test paths hold no characters that need encoding.
    return "file://" + path;
}

} // namespace tarnell::platform::testing
