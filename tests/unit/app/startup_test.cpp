#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "app/startup.hpp"

using namespace korvel;

namespace {

// Started with no arguments at all (argc 0), messages carry the default name.
TEST(Startup, WithoutArgumentsTheProgramCallsItselfKorvel) {
    setenv("XDG_CONFIG_PATH", "/nonexistent-korvel-config", 1);
    int saved_stdin = dup(STDIN_FILENO);
    int empty = open("/dev/null", O_RDONLY);
    dup2(empty, STDIN_FILENO);
    close(empty);
    optind = 0;

    char* argv[] = {nullptr};
    testing::internal::CaptureStderr();
    int status = korvel_main(0, argv);
    std::string err = testing::internal::GetCapturedStderr();

    dup2(saved_stdin, STDIN_FILENO);
    close(saved_stdin);
    for (int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGQUIT, SIGINT, SIGTERM, SIGTSTP, SIGHUP, SIGCHLD})
        signal(sig, SIG_DFL);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "korvel: input seems to be empty\n");
}

} // namespace
