#include "base/child_process.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/write_all.hpp"

using namespace korvel;

namespace {

child_spec shell(const std::string& script) {
    child_spec spec;
    spec.path = "/bin/sh";
    spec.argv = {"sh", "-c", script};
    return spec;
}

// Everything the child writes to its piped output or error output, and how
// it ended.
struct finished {
    child_end end;
    std::string output;
};

// The wake-up a wait needs to notice a child that stops or ends while its
// pipe is quiet, as korvel's session gives it: a byte on SIGCHLD.
int child_signal_pipe = -1;

void on_child_signal(int) {
    const int saved = errno;
    (void)!write(child_signal_pipe, "c", 1);
    errno = saved;
}

class child_signal_wake {
  public:
    child_signal_wake() {
        EXPECT_EQ(open_pipe(&pipe_), 0);
        child_signal_pipe = pipe_.write_end.get();
        struct sigaction action {};
        action.sa_handler = on_child_signal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGCHLD, &action, &previous_);
    }
    ~child_signal_wake() {
        sigaction(SIGCHLD, &previous_, nullptr);
        child_signal_pipe = -1;
    }
    void watch(wait_hooks& hooks) {
        hooks.wake_fd = pipe_.read_end.get();
        hooks.on_wake = [this] {
            char bytes[64];
            (void)!read(pipe_.read_end.get(), bytes, sizeof bytes);
            return true;
        };
    }

  private:
    pipe_pair pipe_;
    struct sigaction previous_ {};
};

finished run(child_process& child, const wait_hooks& given = {}) {
    kept_output output(1 << 20);
    wait_hooks hooks = given;
    hooks.sink = &output;
    finished f{child.wait(hooks), {}};
    f.output = output.kept();
    return f;
}

finished run(const child_spec& spec) {
    child_process child;
    EXPECT_EQ(child.start(spec), start_failure::NONE) << strerror(errno);
    return run(child);
}

// Run with SIGTERM blocked here: the child starts with nothing blocked, or
// the shell could not be killed by it.
TEST(ChildProcess, EndsAreDescribedAsTheyHappened) {
    struct end_case {
        const char* script;
        const char* described;
    };
    const end_case cases[] = {
        {"exit 0", "exited with code 0"},       {"exit 2", "exited with code 2"},
        {"exit 255", "exited with code 255"},   {"kill -KILL $$", "killed by SIGKILL"},
        {"kill -TERM $$", "killed by SIGTERM"}, {"kill -SEGV $$", "killed by SIGSEGV"},
    };
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    for (const end_case& c : cases) {
        SCOPED_TRACE(c.script);
        const finished f = run(shell(c.script));
        ASSERT_EQ(f.end.state, child_end::ENDED);
        EXPECT_EQ(describe_end(f.end.status), c.described);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// The argument vector arrives as given, ready for "$@"; the variables set
// replace korvel's of the same name only, not those that merely begin
// with it, and korvel's own environment does not change.
TEST(ChildProcess, ArgumentsAndEnvironmentArriveAsGiven) {
    setenv("f", "old", 1);
    setenv("fxy", "kept", 1);
    child_spec spec = shell("printf '%s|' \"$@\" \"$f\" \"$fx\" \"$fxy\"");
    spec.argv.insert(spec.argv.end(), {"zero", "a b", "", "$x", "*"});
    spec.environment = {{"f", "new f"}, {"fx", "a\nb"}};
    spec.output = child_stream::pipe();
    const finished f = run(spec);
    EXPECT_EQ(f.output, "a b||$x|*|new f|a\nb|kept|");
    EXPECT_STREQ(getenv("f"), "old");
    EXPECT_EQ(getenv("fx"), nullptr);
    unsetenv("f");
    unsetenv("fxy");
}

// Each standard stream goes where it is sent: a pipe either way, closed,
// or a descriptor of the caller's.
TEST(ChildProcess, StreamsGoWhereTheyAreSent) {
    {
        child_spec spec = shell("tr a-z A-Z");
        spec.input = child_stream::pipe();
        spec.output = child_stream::pipe();
        child_process child;
        ASSERT_EQ(child.start(spec), start_failure::NONE);
        ASSERT_TRUE(write_to_child(child.input().get(), "piped in\n"));
        child.input().reset();
        EXPECT_EQ(run(child).output, "PIPED IN\n");
    }
    {
        child_spec spec = shell("if [ -e /proc/$$/fd/0 ]; then echo open; else echo closed; fi");
        spec.input = child_stream::closed();
        spec.output = child_stream::pipe();
        EXPECT_EQ(run(spec).output, "closed\n");
    }
    {
        pipe_pair own;
        ASSERT_EQ(open_pipe(&own), 0);
        child_spec spec = shell("echo to the descriptor");
        spec.output = child_stream::descriptor(own.write_end.get());
        const finished f = run(spec);
        own.write_end.reset();
        char buffer[64] = {};
        EXPECT_GT(read(own.read_end.get(), buffer, sizeof buffer - 1), 0);
        EXPECT_STREQ(buffer, "to the descriptor\n");
        EXPECT_EQ(f.end.state, child_end::ENDED);
    }
}

// Far more error output than a pipe holds: the child is never blocked,
// and the first bytes are the ones kept.
TEST(ChildProcess, ChattyErrorOutputIsDrainedAndItsStartKept) {
    child_spec spec =
        shell("i=0; while [ $i -lt 20000 ]; do echo \"line $i\" >&2; i=$((i+1)); done");
    spec.errors = child_stream::pipe();
    child_process child;
    ASSERT_EQ(child.start(spec), start_failure::NONE);
    kept_output output(255);
    wait_hooks hooks;
    hooks.sink = &output;
    const child_end end = child.wait(hooks);
    ASSERT_EQ(end.state, child_end::ENDED);
    EXPECT_EQ(describe_end(end.status), "exited with code 0");
    std::string expected;
    for (int i = 0; expected.size() < 255; ++i)
        expected += "line " + std::to_string(i) + "\n";
    expected.resize(255);
    EXPECT_EQ(output.kept(), expected);
}

// Relayed, as tee does: every byte reaches the relay in order, and only
// the first ones are kept.
TEST(ChildProcess, RelayedErrorOutputArrivesWholeAndItsStartIsKept) {
    child_spec spec = shell("i=0; while [ $i -lt 5000 ]; do echo \"line $i\" >&2; i=$((i+1)); "
                            "done; printf 'no newline' >&2");
    spec.errors = child_stream::pipe();
    FILE* relay = tmpfile();
    ASSERT_NE(relay, nullptr);
    child_process child;
    ASSERT_EQ(child.start(spec), start_failure::NONE);
    kept_output output(255, fileno(relay));
    wait_hooks hooks;
    hooks.sink = &output;
    ASSERT_EQ(child.wait(hooks).state, child_end::ENDED);
    std::string expected;
    for (int i = 0; i < 5000; ++i)
        expected += "line " + std::to_string(i) + "\n";
    expected += "no newline";
    std::string relayed(expected.size() + 1, '\0');
    rewind(relay);
    relayed.resize(fread(relayed.data(), 1, relayed.size(), relay));
    fclose(relay);
    EXPECT_EQ(relayed, expected);
    EXPECT_EQ(output.kept(), expected.substr(0, 255));
}

// Variables unset for the child are gone from its environment only.
TEST(ChildProcess, UnsetVariablesAreNotPassedOn) {
    setenv("fx", "korvel's", 1);
    setenv("fxy", "kept", 1);
    child_spec spec = shell("printf '%s|' \"${fx-unset}\" \"$fxy\"");
    spec.unset = {"fx"};
    spec.output = child_stream::pipe();
    const finished f = run(spec);
    EXPECT_EQ(f.output, "unset|kept|");
    EXPECT_STREQ(getenv("fx"), "korvel's");
    unsetenv("fx");
    unsetenv("fxy");
}

// A program that cannot be executed is a failure of start(), with exec's
// reason, and leaves no child behind.
TEST(ChildProcess, ProgramThatCannotRunFailsToStart) {
    const std::pair<const char*, int> cases[] = {{"/nonexistent/program", ENOENT}, {"/", EACCES}};
    for (const auto& [path, error] : cases) {
        SCOPED_TRACE(path);
        child_spec spec;
        spec.path = path;
        spec.argv = {path};
        child_process child;
        errno = 0;
        EXPECT_EQ(child.start(spec), start_failure::EXEC);
        EXPECT_EQ(errno, error);
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

// A child that stops is continued once the hook returns, and the wait goes
// on to its end; its output from both sides of the stop arrives.
TEST(ChildProcess, StoppedChildIsContinuedAfterTheHook) {
    child_signal_wake wake;
    child_spec spec = shell("echo before; kill -STOP $$; echo after");
    spec.output = child_stream::pipe();
    child_process child;
    ASSERT_EQ(child.start(spec), start_failure::NONE);
    int stops = 0;
    wait_hooks hooks;
    wake.watch(hooks);
    hooks.on_stop = [&] { ++stops; };
    hooks.read_to_end = true;
    const finished f = run(child, hooks);
    ASSERT_EQ(f.end.state, child_end::ENDED);
    EXPECT_EQ(describe_end(f.end.status), "exited with code 0");
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(f.output, "before\nafter\n");
}

// The wake-up hook can end the wait with the child still running; the
// child can then be killed and waited for.
TEST(ChildProcess, WakeUpCanGiveUpWaitingForARunningChild) {
    child_spec spec = shell("echo started; exec sleep 30");
    spec.output = child_stream::pipe();
    spec.own_group = true;
    child_process child;
    ASSERT_EQ(child.start(spec), start_failure::NONE);
    pipe_pair wake;
    ASSERT_EQ(open_pipe(&wake), 0);
    ASSERT_TRUE(write_all(wake.write_end.get(), "x"));
    int wakes = 0;
    wait_hooks hooks;
    hooks.wake_fd = wake.read_end.get();
    hooks.on_wake = [&] {
        ++wakes;
        return false;
    };
    EXPECT_EQ(run(child, hooks).end.state, child_end::GAVE_UP);
    EXPECT_EQ(wakes, 1);
    child.signal(SIGKILL);
    const child_end end = child.wait({});
    ASSERT_EQ(end.state, child_end::ENDED);
    EXPECT_EQ(describe_end(end.status), "killed by SIGKILL");
}

} // namespace
