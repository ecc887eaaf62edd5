#pragma once

#include <string>
#include <vector>

// A private set of data directories with desktop entries, put in place of the
// user's before anything reads them.
namespace tarnell::platform::testing {

class TestDesktopEntries {
public:
    // Makes the directories and points XDG_DATA_HOME and XDG_DATA_DIRS at them.
    TestDesktopEntries();
    ~TestDesktopEntries();
    TestDesktopEntries(const TestDesktopEntries&) = delete;
    TestDesktopEntries& operator=(const TestDesktopEntries&) = delete;

    // The first and second system data directory.
    std::string firstDataDir() const { return root_ + "/first"; }
    std::string secondDataDir() const { return root_ + "/second"; }
    std::string root() const { return root_; }

    // Writes an application entry and returns its path.
    std::string addEntry(const std::string& dataDir, const std::string& desktopId,
                         const std::string& exec, const std::string& extraLines = "");
    // Writes an executable shell script and returns its path.
    std::string addScript(const std::string& name, const std::string& body);
    // A script that writes its environment to the file named by its first argument,
    // which appears whole or not at all; returns its path.
    std::string addLaunchRecorder();
    // A script that adds a line with the launch's startup ID or activation token to
    // the file named by its first argument, then runs the rest of its arguments as a
    // command, if any; returns its path.
    std::string addLaunchCounter();

private:
    std::string root_;
};

std::string fileUrl(const std::string& path);

// The lines of a text file; none when it does not exist.
std::vector<std::string> readLines(const std::string& path);

} // namespace tarnell::platform::testing
