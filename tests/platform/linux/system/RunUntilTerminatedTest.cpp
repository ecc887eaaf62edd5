#include "app/RunUntilTerminated.h"

#include <QCoreApplication>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnell::app {
namespace {

// Runs the loop in a child process that reports "start" and "stop" through a pipe.
class Child {
public:
    Child() {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(ends[0]);
            const int out = ends[1];
            int argc = 1;
            char name[] = "headless-test";
            char* argv[] = {name, nullptr};
            QCoreApplication application(argc, argv);
            const int result = runUntilTerminated(
                application, [out] { (void)!write(out, "start;", 6); },
                [out] { (void)!write(out, "stop;", 5); });
            _exit(result);
        }
        close(ends[1]);
        reports_ = ends[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(reports_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // What the child reported within the time, up to `expected`.
    std::string read(const std::string& expected) {
        std::string text;
        while (text.size() < expected.size()) {
            pollfd waiting{reports_, POLLIN, 0};
            if (poll(&waiting, 1, 5000) <= 0) {
                break;
            }
            char buffer[64];
            const ssize_t got = ::read(reports_, buffer, sizeof(buffer));
            if (got <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

    // The exit status, or -1 when the child did not end normally.
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void signal(int number) const { kill(pid_, number); }

private:
    pid_t pid_ = -1;
    int reports_ = -1;
};

class RunUntilTerminatedTest : public ::testing::TestWithParam<int> {};

TEST_P(RunUntilTerminatedTest, StartsInTheLoopAndStopsAfterTheSignalThenExitsZero) {
    Child child;
    ASSERT_EQ(child.read("start;"), "start;");
    child.signal(GetParam());
    EXPECT_EQ(child.read("stop;"), "stop;");
    EXPECT_EQ(child.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, RunUntilTerminatedTest,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(RunUntilTerminated, KeepsRunningUntilSignalled) {
    Child child;
    ASSERT_EQ(child.read("start;"), "start;");
    usleep(200 * 1000);
    int status = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), 0) << "the loop ended by itself";
    child.signal(SIGTERM);
    EXPECT_EQ(child.wait(), 0);
}

} // namespace
} // namespace tarnell::app
