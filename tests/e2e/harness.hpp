// Runs a program in a pseudo-terminal and reads its screen back through
// libvterm, the way a user would see it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace e2e {

struct cell {
    std::string text; // UTF-8 of the cell; "" for the right half of a wide character
    int fg = -1;      // palette index 0..255, or -1 for the default colour
    int bg = -1;
    bool bold = false;
    bool underline = false;
    bool reverse = false;
};

struct launch {
    std::string program;                // path of the binary
    std::vector<std::string> args;      // argv[1..]
    int rows = 24;
    int cols = 80;
    std::optional<std::string> stdin_data; // piped to standard input; nullopt: /dev/null
    std::string stdin_file;             // when set, standard input is this file instead
    std::map<std::string, std::string> env; // added to (or replacing in) a clean environment
    std::string argv0;                  // argv[0]; defaults to program
    std::vector<std::string> unset_env; // removed from the environment (after `env`)
    // Files written under the private HOME before the start, by path relative
    // to it (e.g. ".config/korvel/config"); folders are created as needed.
    std::map<std::string, std::string> home_files;
    // Standard streams that are the terminal itself rather than the above:
    // INPUT for a program started with nothing piped in, ALL for a shell.
    enum class on_terminal { NONE, INPUT, ALL };
    on_terminal terminal_streams = on_terminal::NONE;
    std::string cwd; // working directory; the test's own when empty
    // When the test runs as root, the program runs as this user and group
    // (for permission bits to count), and the private HOME becomes theirs.
    std::optional<uid_t> user;
    // A limit on the program's address space (RLIMIT_AS), in bytes. A
    // sanitizer's shadow memory needs terabytes of it: give such a limit only
    // to a binary built without sanitizers.
    std::optional<uint64_t> address_space_limit;
};

// Mouse actions, for session::send_mouse.
enum class mouse {
    left_press,
    left_release,
    left_drag, // left button held, pointer moved
    middle_press,
    right_press,
    wheel_up,
    wheel_down,
};

// The child gets a new session with the pty as its controlling terminal
// (/dev/tty), TERM=xterm-256color, and a private HOME and XDG_CONFIG_PATH
// under a temporary directory that is removed afterwards. Its standard output
// and standard error are pipes read separately from the screen.
// XDG_CONFIG_PATH is HOME/.config, so a configuration file belongs at
// HOME/.config/korvel/config either way. The environment holds PATH, TERM,
// HOME, XDG_CONFIG_PATH and the sanitizer options of the test's own
// environment, then `env`.
class session {
  public:
    explicit session(const launch& how);
    ~session(); // kills the child if it is still running
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    const std::string& home() const; // the private HOME

    void send(const std::string& bytes); // typed at the keyboard
    void send_signal(int sig);           // to the child process
    void resize(int rows, int cols);     // TIOCSWINSZ + SIGWINCH

    // What the terminal would send for a mouse action, in the encoding the
    // program asked for (SGR when it turned on mode 1006, else the X10 form);
    // "" when the program has no mouse reporting on that covers the action
    // (a drag needs mode 1002 or 1003).
    std::string encode_mouse(mouse what, int row, int col) const;
    void send_mouse(mouse what, int row, int col); // send(encode_mouse(...))

    // Pumps output into the screen until pred() holds or the deadline passes.
    bool wait_for(const std::function<bool()>& pred,
                  std::chrono::milliseconds deadline = std::chrono::seconds(5));
    bool wait_for_text(const std::string& text,
                       std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Pumps until the program has been quiet for `quiet` (for checking that
    // something did NOT happen); never longer than `deadline`.
    void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(150),
                std::chrono::milliseconds deadline = std::chrono::seconds(3));
    // Waits for the child to end; false on time-out.
    bool wait_exit(std::chrono::milliseconds deadline = std::chrono::seconds(5));

    int rows() const;
    int cols() const;
    std::string row_text(int row) const; // trailing blanks removed
    std::string screen_text() const;     // every row, joined with '\n'
    cell cell_at(int row, int col) const;
    int cursor_row() const;
    int cursor_col() const;
    bool cursor_visible() const;
    bool alt_screen() const;  // the alternate screen is in use
    bool mouse_reporting() const; // any mouse mode is on
    bool mouse_drag_reporting() const; // mode 1002 or 1003 is on
    // The DEC private mode's state as last set by the program (CSI ? n h/l);
    // false when it never set it.
    bool private_mode(int mode) const;

    bool exited() const;
    int exit_status() const;   // valid after wait_exit: exit code, or 128+signal
    int term_signal() const;   // the signal that ended it, or 0
    const std::string& stdout_data() const;
    const std::string& stderr_data() const;
    const std::string& raw_output() const; // every byte written to the terminal
    pid_t pid() const;

    // For failure messages: the screen with row numbers.
    std::string dump() const;
    // Waits until standard output holds `text`.
    bool wait_for_stdout(const std::string& text,
                         std::chrono::milliseconds deadline = std::chrono::seconds(5));

  private:
    void start(const launch& how);
    struct impl;
    impl* d;
};

// Mouse reports in the SGR encoding (1-based on the wire; these take 0-based).
std::string mouse_press(int row, int col);   // left button press
std::string mouse_release(int row, int col);
std::string mouse_drag(int row, int col);    // left button held, pointer moved
std::string wheel_up(int row, int col);
std::string wheel_down(int row, int col);

// Keys as xterm sends them.
inline const std::string KEY_UP = "\x1b[A";
inline const std::string KEY_DOWN = "\x1b[B";
inline const std::string KEY_RIGHT = "\x1b[C";
inline const std::string KEY_LEFT = "\x1b[D";
inline const std::string KEY_DELETE = "\x1b[3~";
inline const std::string KEY_BACKSPACE = "\x7f";
inline const std::string KEY_ENTER = "\r";
inline const std::string KEY_ESC = "\x1b";

// A temporary file with the given content, removed with the object.
class temp_file {
  public:
    explicit temp_file(const std::string& content);
    ~temp_file();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A fresh folder under the temporary directory, removed with everything in
// it together with the object.
class temp_dir {
  public:
    explicit temp_dir(const std::string& prefix = "korvel-e2e-dir");
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file below it, making the folders on the way, and returns
    // its path.
    std::string file(const std::string& name, const std::string& content) const;

  private:
    std::string path_;
};

} // namespace e2e
