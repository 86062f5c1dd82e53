#include "harness.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <vterm.h>

namespace e2e {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// How long one pump may block before the child's state is looked at again;
// exit is noticed by waitpid, not by any descriptor.
constexpr milliseconds MAX_POLL{50};

class fd_holder {
  public:
    fd_holder() = default;
    explicit fd_holder(int fd) : fd_(fd) {}
    ~fd_holder() { reset(); }
    fd_holder(const fd_holder&) = delete;
    fd_holder& operator=(const fd_holder&) = delete;
    fd_holder(fd_holder&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    fd_holder& operator=(fd_holder&& other) noexcept {
        if (this != &other) {
            reset(other.fd_);
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// xterm's SGR mouse report (1-based on the wire).
std::string sgr_report(int code, int row, int col, bool release) {
    return "\x1b[<" + std::to_string(code) + ";" + std::to_string(col + 1) + ";" +
           std::to_string(row + 1) + (release ? "m" : "M");
}

void set_nonblocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::array<fd_holder, 2> make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
    std::array<fd_holder, 2> ends;
    ends[0].reset(fds[0]);
    ends[1].reset(fds[1]);
    return ends;
}

void write_file(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void ignore_sigpipe_once() {
    static const bool done = [] {
        signal(SIGPIPE, SIG_IGN); // a child that stops reading must not kill the test
        return true;
    }();
    (void)done;
}

// Follows the DEC private modes (CSI ? n h / l) the program sets, across
// reads that may split a sequence.
class mode_tracker {
  public:
    void feed(const char* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i)
            step(static_cast<unsigned char>(bytes[i]));
    }
    bool get(int mode) const {
        auto it = modes_.find(mode);
        return it != modes_.end() && it->second;
    }

  private:
    enum class state { ground, escape, csi, private_params };
    void step(unsigned char b) {
        switch (state_) {
        case state::ground:
            if (b == 0x1B) state_ = state::escape;
            break;
        case state::escape:
            state_ = b == '[' ? state::csi : b == 0x1B ? state::escape : state::ground;
            break;
        case state::csi:
            if (b == '?') {
                params_.clear();
                current_ = 0;
                state_ = state::private_params;
            } else {
                state_ = b == 0x1B ? state::escape : state::ground;
            }
            break;
        case state::private_params:
            if (b >= '0' && b <= '9') {
                current_ = std::min(current_ * 10 + (b - '0'), 100000);
            } else if (b == ';') {
                params_.push_back(current_);
                current_ = 0;
            } else {
                if (b == 'h' || b == 'l') {
                    params_.push_back(current_);
                    for (int p : params_)
                        modes_[p] = b == 'h';
                }
                state_ = b == 0x1B ? state::escape : state::ground;
            }
            break;
        }
    }
    state state_ = state::ground;
    std::vector<int> params_;
    int current_ = 0;
    std::map<int, bool> modes_;
};

} // namespace

struct session::impl {
    fs::path temp_dir;
    std::string home;
    int rows = 0;
    int cols = 0;

    pid_t child = -1;
    bool reaped = false;
    int wait_status = 0;

    fd_holder master;
    // Held while the child runs, so the master does not hang up while the
    // program has no descriptor of the terminal open (before it opens
    // /dev/tty); let go once the child is reaped, so the master reads what
    // is left and then ends.
    fd_holder slave;
    fd_holder stdin_w;
    fd_holder stdout_r;
    fd_holder stderr_r;
    std::string stdin_pending;
    size_t stdin_written = 0;
    std::string to_master; // keys and libvterm's answers, not yet written

    std::string out;
    std::string err;
    std::string raw;

    VTerm* vt = nullptr;
    VTermScreen* screen = nullptr;
    bool cursor_visible = true;
    bool alt_screen = false;
    int mouse_mode = VTERM_PROP_MOUSE_NONE;
    mode_tracker modes;

    ~impl() {
        if (child > 0 && !reaped) {
            kill(-child, SIGKILL); // its process group: anything it started too
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (vt) vterm_free(vt);
        std::error_code ignored;
        if (!temp_dir.empty()) fs::remove_all(temp_dir, ignored);
    }

    static void on_output(const char* bytes, size_t len, void* user) {
        static_cast<impl*>(user)->to_master.append(bytes, len);
    }

    static int on_termprop(VTermProp prop, VTermValue* value, void* user) {
        impl& self = *static_cast<impl*>(user);
        switch (prop) {
        case VTERM_PROP_CURSORVISIBLE:
            self.cursor_visible = value->boolean;
            break;
        case VTERM_PROP_ALTSCREEN:
            self.alt_screen = value->boolean;
            break;
        case VTERM_PROP_MOUSE:
            self.mouse_mode = value->number;
            break;
        default:
            break;
        }
        return 1;
    }

    void start_terminal() {
        vt = vterm_new(rows, cols);
        vterm_set_utf8(vt, 1);
        vterm_output_set_callback(vt, on_output, this);
        screen = vterm_obtain_screen(vt);
        static const VTermScreenCallbacks callbacks = [] {
            VTermScreenCallbacks c{};
            c.settermprop = on_termprop;
            return c;
        }();
        vterm_screen_set_callbacks(screen, &callbacks, this);
        vterm_screen_enable_altscreen(screen, 1);
        vterm_screen_reset(screen, 1);
    }

    void reap() {
        if (reaped || child <= 0) return;
        if (waitpid(child, &wait_status, WNOHANG) == child) {
            reaped = true;
            slave.reset();
        }
    }

    // Nothing more can arrive.
    bool finished() const {
        return reaped && !master.open() && !stdout_r.open() && !stderr_r.open();
    }

    // Reads everything available from a descriptor; false at end of file.
    static bool drain(fd_holder& fd, std::string& into, bool& got) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd.get(), buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, static_cast<size_t>(n));
                got = true;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return true;
            fd.reset();
            return false;
        }
    }

    void feed_screen(size_t from) {
        // libvterm 0.1 keeps a text run's code points on its stack, so a
        // large write in one piece overflows it; it parses a stream in any
        // pieces.
        constexpr size_t PIECE = 4096;
        for (size_t at = from; at < raw.size(); at += PIECE) {
            const size_t n = std::min(PIECE, raw.size() - at);
            modes.feed(raw.data() + at, n);
            vterm_input_write(vt, raw.data() + at, n);
        }
    }

    // One round of waiting (at most `wait`) and moving bytes; true when the
    // program wrote anything.
    bool pump(milliseconds wait) {
        std::array<pollfd, 4> fds{};
        size_t n = 0;
        auto add = [&](const fd_holder& fd, short events) {
            if (fd.open()) fds[n++] = pollfd{fd.get(), events, 0};
        };
        add(master, static_cast<short>(POLLIN | (to_master.empty() ? 0 : POLLOUT)));
        add(stdout_r, POLLIN);
        add(stderr_r, POLLIN);
        if (stdin_w.open()) add(stdin_w, POLLOUT);
        const int timeout =
            static_cast<int>(std::clamp<int64_t>(wait.count(), 0, MAX_POLL.count()));
        const int ready = n > 0 ? poll(fds.data(), n, timeout) : 0;
        bool got = false;
        if (ready > 0) {
            const size_t before = raw.size();
            if (master.open()) drain(master, raw, got);
            if (raw.size() > before) feed_screen(before);
            if (stdout_r.open()) drain(stdout_r, out, got);
            if (stderr_r.open()) drain(stderr_r, err, got);
        }
        write_pending();
        reap();
        return got;
    }

    void write_pending() {
        while (master.open() && !to_master.empty()) {
            const ssize_t n = write(master.get(), to_master.data(), to_master.size());
            if (n <= 0) break;
            to_master.erase(0, static_cast<size_t>(n));
        }
        while (stdin_w.open() && stdin_written < stdin_pending.size()) {
            const ssize_t n = write(stdin_w.get(), stdin_pending.data() + stdin_written,
                                    stdin_pending.size() - stdin_written);
            if (n > 0) {
                stdin_written += static_cast<size_t>(n);
            } else {
                if (n < 0 && errno == EAGAIN) return;
                stdin_w.reset(); // the program closed its end
                return;
            }
        }
        stdin_w.reset(); // everything is written: the program sees end of file
    }

    bool wait_for(const std::function<bool()>& pred, milliseconds deadline) {
        const auto end = clock_type::now() + deadline;
        for (;;) {
            if (pred()) return true;
            if (finished()) return false; // nothing left that could change the answer
            const auto left = std::chrono::duration_cast<milliseconds>(end - clock_type::now());
            if (left.count() <= 0) return pred();
            pump(left);
        }
    }

    VTermScreenCell cell(int row, int col) const {
        VTermScreenCell c{};
        vterm_screen_get_cell(screen, VTermPos{row, col}, &c);
        return c;
    }
};

session::session(const launch& how) : d(new impl) {
    try {
        start(how);
    } catch (...) {
        delete d;
        throw;
    }
}

void session::start(const launch& how) {
    ignore_sigpipe_once();
    d->rows = how.rows;
    d->cols = how.cols;

    std::string pattern = (fs::temp_directory_path() / "korvel-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    d->temp_dir = pattern;
    d->home = (d->temp_dir / "home").string();
    fs::create_directories(fs::path(d->home) / ".config");
    for (const auto& [relative, content] : how.home_files)
        write_file(fs::path(d->home) / relative, content);
    const bool change_user = how.user && geteuid() == 0;
    // The other user may not reach the build tree (a clone in a private
    // folder, root's home of mode 0700), so they run a copy of the program
    // and of the leak suppressions from the temporary folder they own.
    std::string program = how.program;
    std::optional<std::string> lsan_options;
    if (change_user) {
        const fs::path bin = d->temp_dir / "bin";
        fs::create_directories(bin);
        program = (bin / fs::path(how.program).filename()).string();
        fs::copy_file(how.program, program);
        fs::permissions(program, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        if (const char* options = getenv("LSAN_OPTIONS")) {
            std::string text = options;
            const std::string key = "suppressions=";
            if (const size_t at = text.find(key); at != std::string::npos) {
                const size_t begin = at + key.size();
                const size_t end = std::min(text.find(':', begin), text.size());
                const std::string copy = (d->temp_dir / "lsan.supp").string();
                fs::copy_file(text.substr(begin, end - begin), copy);
                text.replace(begin, end - begin, copy);
            }
            lsan_options = text;
        }
    }
    if (change_user) {
        for (const auto& entry : fs::recursive_directory_iterator(d->temp_dir))
            if (lchown(entry.path().c_str(), *how.user, *how.user) != 0) fail("lchown");
        if (lchown(d->temp_dir.c_str(), *how.user, *how.user) != 0) fail("lchown");
    }

    // The environment, built before fork: the child only execs.
    std::map<std::string, std::string> env;
    const char* path = getenv("PATH");
    env["PATH"] = path ? path : "/usr/bin:/bin";
    env["TERM"] = "xterm-256color";
    env["HOME"] = d->home;
    env["XDG_CONFIG_PATH"] = d->home + "/.config";
    for (const char* name : {"LSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = getenv(name)) env[name] = value;
    if (lsan_options) env["LSAN_OPTIONS"] = *lsan_options;
    for (const auto& [name, value] : how.env)
        env[name] = value;
    for (const std::string& name : how.unset_env)
        env.erase(name);
    std::vector<std::string> env_strings;
    for (const auto& [name, value] : env)
        env_strings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> arg_strings{how.argv0.empty() ? how.program : how.argv0};
    arg_strings.insert(arg_strings.end(), how.args.begin(), how.args.end());
    std::vector<char*> argv;
    for (std::string& s : arg_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    fd_holder stdin_source;
    if (!how.stdin_file.empty()) {
        stdin_source.reset(::open(how.stdin_file.c_str(), O_RDONLY | O_CLOEXEC));
        if (!stdin_source.open()) fail("open " + how.stdin_file);
    } else if (how.stdin_data) {
        auto ends = make_pipe();
        stdin_source = std::move(ends[0]);
        d->stdin_w = std::move(ends[1]);
        d->stdin_pending = *how.stdin_data;
    } else {
        stdin_source.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    auto out_pipe = make_pipe();
    auto err_pipe = make_pipe();

    int master_fd = -1;
    int slave_fd = -1;
    winsize size{};
    size.ws_row = static_cast<unsigned short>(how.rows);
    size.ws_col = static_cast<unsigned short>(how.cols);
    if (openpty(&master_fd, &slave_fd, nullptr, nullptr, &size) != 0) fail("openpty");
    d->master.reset(master_fd);
    d->slave.reset(slave_fd);
    fcntl(master_fd, F_SETFD, FD_CLOEXEC);
    fcntl(slave_fd, F_SETFD, FD_CLOEXEC);
    d->start_terminal();

    const pid_t pid = fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        setsid();
        ioctl(slave_fd, TIOCSCTTY, 0);
        using streams = launch::on_terminal;
        dup2(how.terminal_streams != streams::NONE ? slave_fd : stdin_source.get(), 0);
        dup2(how.terminal_streams == streams::ALL ? slave_fd : out_pipe[1].get(), 1);
        dup2(how.terminal_streams == streams::ALL ? slave_fd : err_pipe[1].get(), 2);
        if (!how.cwd.empty() && chdir(how.cwd.c_str()) != 0) _exit(126);
        if (how.address_space_limit) {
            const rlimit limit{*how.address_space_limit, *how.address_space_limit};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        if (change_user &&
            (setgroups(0, nullptr) != 0 || setgid(*how.user) != 0 || setuid(*how.user) != 0))
            _exit(126);
        if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execve(program.c_str(), argv.data(), envp.data());
        const char message[] = "harness: exec failed\n";
        [[maybe_unused]] ssize_t n = write(2, message, sizeof message - 1);
        _exit(127);
    }
    d->child = pid;
    d->stdout_r = std::move(out_pipe[0]);
    d->stderr_r = std::move(err_pipe[0]);
    for (int fd : {d->master.get(), d->stdout_r.get(), d->stderr_r.get()})
        set_nonblocking(fd);
    if (d->stdin_w.open()) set_nonblocking(d->stdin_w.get());
    d->write_pending();
}

session::~session() {
    delete d;
}

const std::string& session::home() const {
    return d->home;
}

void session::send(const std::string& bytes) {
    d->to_master += bytes;
    const bool sent = d->wait_for([&] { return d->to_master.empty() || !d->master.open(); },
                                  std::chrono::seconds(5));
    if (!sent) ADD_FAILURE() << "the program did not take its input within 5 s\n" << dump();
}

void session::send_signal(int sig) {
    if (!d->reaped) kill(d->child, sig);
}

void session::resize(int rows, int cols) {
    d->rows = rows;
    d->cols = cols;
    vterm_set_size(d->vt, rows, cols);
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    ioctl(d->master.get(), TIOCSWINSZ, &size); // the kernel sends SIGWINCH
}

std::string session::encode_mouse(mouse what, int row, int col) const {
    if (d->mouse_mode == VTERM_PROP_MOUSE_NONE) return "";
    if (what == mouse::left_drag && d->mouse_mode == VTERM_PROP_MOUSE_CLICK) return "";
    int code = 0;
    bool release = false;
    switch (what) {
    case mouse::left_press:
        code = 0;
        break;
    case mouse::left_release:
        code = 0, release = true;
        break;
    case mouse::left_drag:
        code = 32;
        break;
    case mouse::middle_press:
        code = 1;
        break;
    case mouse::right_press:
        code = 2;
        break;
    case mouse::wheel_up:
        code = 64;
        break;
    case mouse::wheel_down:
        code = 65;
        break;
    }
    if (d->modes.get(1006)) return sgr_report(code, row, col, release);
    // X10 form: one byte each, offset by 32; a release does not name its button.
    if (release) code = 3;
    const auto byte = [](int v) { return static_cast<char>(std::min(v + 32, 255)); };
    return std::string("\x1b[M") + byte(code) + byte(col + 1) + byte(row + 1);
}

void session::send_mouse(mouse what, int row, int col) {
    send(encode_mouse(what, row, col));
}

bool session::wait_for(const std::function<bool()>& pred, std::chrono::milliseconds deadline) {
    return d->wait_for(pred, deadline);
}

bool session::wait_for_text(const std::string& text, std::chrono::milliseconds deadline) {
    return d->wait_for([&] { return screen_text().find(text) != std::string::npos; }, deadline);
}

bool session::wait_for_stdout(const std::string& text, std::chrono::milliseconds deadline) {
    return d->wait_for([&] { return d->out.find(text) != std::string::npos; }, deadline);
}

void session::settle(std::chrono::milliseconds quiet, std::chrono::milliseconds deadline) {
    const auto end = clock_type::now() + deadline;
    auto last_activity = clock_type::now();
    for (;;) {
        const auto now = clock_type::now();
        const auto quiet_left = quiet - (now - last_activity);
        const auto left = std::min<clock_type::duration>(quiet_left, end - now);
        if (left <= clock_type::duration::zero()) return;
        if (d->pump(std::chrono::ceil<milliseconds>(left))) last_activity = clock_type::now();
        if (d->finished()) return;
    }
}

bool session::wait_exit(std::chrono::milliseconds deadline) {
    const bool ended = d->wait_for([&] { return d->finished(); }, deadline);
    // Something it started may still hold the terminal or a pipe.
    return ended || d->reaped;
}

int session::rows() const {
    return d->rows;
}
int session::cols() const {
    return d->cols;
}

cell session::cell_at(int row, int col) const {
    cell result;
    if (row < 0 || col < 0 || row >= d->rows || col >= d->cols) return result;
    const VTermScreenCell c = d->cell(row, col);
    if (c.chars[0] == static_cast<uint32_t>(-1)) {
        result.text = ""; // right half of a wide character
    } else if (c.chars[0] == 0) {
        result.text = " ";
    } else {
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i] != 0; ++i) {
            const uint32_t cp = c.chars[i];
            if (cp < 0x80) {
                result.text += static_cast<char>(cp);
            } else if (cp < 0x800) {
                result.text += static_cast<char>(0xC0 | (cp >> 6));
                result.text += static_cast<char>(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                result.text += static_cast<char>(0xE0 | (cp >> 12));
                result.text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                result.text += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                result.text += static_cast<char>(0xF0 | (cp >> 18));
                result.text += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                result.text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                result.text += static_cast<char>(0x80 | (cp & 0x3F));
            }
        }
    }
    const auto palette = [](const VTermColor& color, bool is_default) {
        if (is_default || !VTERM_COLOR_IS_INDEXED(&color)) return -1;
        return static_cast<int>(color.indexed.idx);
    };
    result.fg = palette(c.fg, VTERM_COLOR_IS_DEFAULT_FG(&c.fg));
    result.bg = palette(c.bg, VTERM_COLOR_IS_DEFAULT_BG(&c.bg));
    result.bold = c.attrs.bold != 0;
    result.underline = c.attrs.underline != 0;
    result.reverse = c.attrs.reverse != 0;
    return result;
}

std::string session::row_text(int row) const {
    std::string text;
    for (int col = 0; col < d->cols; ++col)
        text += cell_at(row, col).text;
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string session::screen_text() const {
    std::string text;
    for (int row = 0; row < d->rows; ++row) {
        if (row) text += '\n';
        text += row_text(row);
    }
    return text;
}

int session::cursor_row() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(d->vt), &pos);
    return pos.row;
}

int session::cursor_col() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(d->vt), &pos);
    return pos.col;
}

bool session::cursor_visible() const {
    return d->cursor_visible;
}
bool session::alt_screen() const {
    return d->alt_screen;
}
bool session::mouse_reporting() const {
    return d->mouse_mode != VTERM_PROP_MOUSE_NONE;
}
bool session::mouse_drag_reporting() const {
    return d->mouse_mode == VTERM_PROP_MOUSE_DRAG || d->mouse_mode == VTERM_PROP_MOUSE_MOVE;
}
bool session::private_mode(int mode) const {
    return d->modes.get(mode);
}

bool session::exited() const {
    d->reap();
    return d->reaped;
}

int session::exit_status() const {
    if (!d->reaped) return -1;
    if (WIFEXITED(d->wait_status)) return WEXITSTATUS(d->wait_status);
    if (WIFSIGNALED(d->wait_status)) return 128 + WTERMSIG(d->wait_status);
    return -1;
}

int session::term_signal() const {
    return d->reaped && WIFSIGNALED(d->wait_status) ? WTERMSIG(d->wait_status) : 0;
}

const std::string& session::stdout_data() const {
    return d->out;
}
const std::string& session::stderr_data() const {
    return d->err;
}
const std::string& session::raw_output() const {
    return d->raw;
}
pid_t session::pid() const {
    return d->child;
}

std::string session::dump() const {
    std::string text = "screen " + std::to_string(d->rows) + "x" + std::to_string(d->cols) +
                       ", cursor " + std::to_string(cursor_row()) + "," +
                       std::to_string(cursor_col()) + (d->cursor_visible ? " shown" : " hidden") +
                       (d->alt_screen ? ", alternate screen" : "") + "\n";
    for (int row = 0; row < d->rows; ++row) {
        char number[16];
        snprintf(number, sizeof number, "%3d|", row);
        text += number + row_text(row) + "\n";
    }
    if (!d->out.empty()) text += "stdout: " + d->out + "\n";
    if (!d->err.empty()) text += "stderr: " + d->err + "\n";
    return text;
}

std::string mouse_press(int row, int col) {
    return sgr_report(0, row, col, false);
}
std::string mouse_release(int row, int col) {
    return sgr_report(0, row, col, true);
}
std::string mouse_drag(int row, int col) {
    return sgr_report(32, row, col, false);
}
std::string wheel_up(int row, int col) {
    return sgr_report(64, row, col, false);
}
std::string wheel_down(int row, int col) {
    return sgr_report(65, row, col, false);
}

temp_file::temp_file(const std::string& content) {
    std::string pattern = (fs::temp_directory_path() / "korvel-e2e-file-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) fail("mkstemp");
    fd_holder holder(fd);
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) fail("write " + pattern);
        done += static_cast<size_t>(n);
    }
    path_ = pattern;
}

temp_file::~temp_file() {
    unlink(path_.c_str());
}

temp_dir::temp_dir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string temp_dir::file(const std::string& name, const std::string& content) const {
    const fs::path at = fs::path(path_) / name;
    fs::create_directories(at.parent_path());
    std::ofstream(at, std::ios::binary) << content;
    return at.string();
}

} // namespace e2e
