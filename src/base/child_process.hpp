// Starting another program and waiting for it: the one place korvel forks.
// Where the child's standard streams go, whether it gets a process group
// of its own and the terminal with it, and what the wait watches besides
// the child are the caller's choice; the mechanics are all here.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/unique_fd.hpp"

namespace korvel {

// Where one of a child's standard streams goes.
struct child_stream {
    enum kind_t { INHERIT, CLOSED, DESCRIPTOR, PIPE };
    kind_t kind = INHERIT;
    int fd = -1; // DESCRIPTOR: the caller's, which it keeps open and closes

    static child_stream inherit() { return {}; }
    static child_stream closed() { return {CLOSED, -1}; }
    static child_stream descriptor(int fd) { return {DESCRIPTOR, fd}; }
    // korvel's end comes back from child_process::input(), output() or errors().
    static child_stream pipe() { return {PIPE, -1}; }
};

struct child_spec {
    // The program, executed as named: PATH is not searched.
    std::string path;
    // Its arguments, argv[0] included.
    std::vector<std::string> argv;
    // Variables set in the child's environment over korvel's own, which
    // does not change.
    std::vector<std::pair<std::string, std::string>> environment;
    // Variables of korvel's environment that the child does not get.
    std::vector<std::string> unset;
    child_stream input, output, errors;
    // A process group of its own, so that the child and whatever it starts
    // can be signalled together.
    bool own_group = false;
    // A terminal descriptor: when korvel is that terminal's foreground job,
    // the child becomes it instead, in a group of its own, as a shell runs a
    // job, so that Ctrl-C, Ctrl-\ and Ctrl-Z typed meanwhile reach it alone;
    // the terminal comes back when the wait ends.
    int terminal = -1;
};

// What start() could not do.
enum class start_failure { NONE, PIPE, FORK, EXEC };

// Takes what a child writes into its pipe, as it is read.
class output_sink {
  public:
    virtual ~output_sink() = default;
    // Where the next read puts its bytes; never empty.
    virtual std::span<char> room() = 0;
    // The first n bytes of the last room() now hold output.
    virtual void took(size_t n) = 0;
};

// Keeps the first bytes of the output and reads the rest only to drop it,
// so that a chatty child never blocks on a full pipe. With a relay
// descriptor, every byte is also written there as it arrives, as tee does:
// the child's output is seen whole while its start is kept for a report.
class kept_output : public output_sink {
  public:
    explicit kept_output(size_t limit, int relay = -1) : limit_(limit), relay_(relay) {}
    std::span<char> room() override { return scratch_; }
    void took(size_t n) override;
    const std::string& kept() const { return kept_; }

  private:
    size_t limit_;
    int relay_;
    std::string kept_;
    std::array<char, 4096> scratch_;
};

// What a wait watches besides the child. It never wakes on a timer.
struct wait_hooks {
    // Readable when something else wants attention; it must also be written
    // on SIGCHLD when a pipe is read, or the end of a child whose pipe stays
    // open (a job it left in the background) goes unnoticed.
    int wake_fd = -1;
    // Called when wake_fd is readable, and must drain it. False ends the
    // wait with the child still running.
    std::function<bool()> on_wake;
    // Set: a stopped child is noticed, and this is called with the terminal
    // given back; when it returns, the child gets the terminal again and is
    // continued.
    std::function<void()> on_stop;
    // Takes what the child's piped output (or else its piped error output)
    // carries while it runs.
    output_sink* sink = nullptr;
    // The wait ends at the end of that output as well as the child's, so
    // nothing a job it left behind writes is lost; otherwise it ends with
    // the child, after taking what the pipe holds already.
    bool read_to_end = false;
};

struct child_end {
    enum state_t { ENDED, GAVE_UP, FAILED };
    state_t state = ENDED;
    int status = 0;     // ENDED: as waitpid gives it
    int error = 0;      // FAILED: the errno of waitpid or poll
    int read_error = 0; // a read of the output failed with this; reading stopped there
};

class child_process {
  public:
    child_process() = default;
    // Gives the terminal back if the child still has it. It neither signals
    // nor waits for a child that is still running.
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // NONE once the program runs; otherwise what failed, with errno set. A
    // program that could not be executed (EXEC, with exec's errno) has been
    // waited for already.
    start_failure start(const child_spec& spec);

    // korvel's ends of the pipes asked for, -1 for the others.
    unique_fd& input() { return input_; }
    unique_fd& output() { return output_; }
    unique_fd& errors() { return errors_; }

    // Until the child has ended or the hooks give up.
    child_end wait(const wait_hooks& hooks);

    // To its whole group when it has one; nothing once it has been waited for.
    void signal(int sig) const;

    // Whether the child has ended, waited for then; without `block` it
    // returns at once, for a loop that has other things to wait on. True
    // also when there is no child to wait for.
    bool ended(bool block, int* status = nullptr);

  private:
    void hand_terminal_to(pid_t group) const;
    void give_terminal_back();
    void continue_after_stop(const std::function<void()>& on_stop);

    pid_t pid_ = -1;
    bool own_group_ = false;
    int terminal_ = -1;         // the terminal the child was given, if any
    bool has_terminal_ = false; // and holds now
    unique_fd input_;
    unique_fd output_;
    unique_fd errors_;
};

// How a child ended, from its waitpid status: "exited with code 2",
// "killed by SIGKILL".
std::string describe_end(int status);

// Every byte to a child's input. A child that stopped reading makes this
// fail with EPIPE instead of raising a SIGPIPE that would end korvel.
bool write_to_child(int fd, std::string_view bytes);

} // namespace korvel
