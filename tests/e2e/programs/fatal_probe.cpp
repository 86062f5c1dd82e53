// Fails fatally while it holds the terminal as the viewer does, for the
// end-to-end tests of what the user is left with:
//
//   fatal_probe check | throw | bad_alloc | thread_throw
//
// It takes the terminal over through the viewer's own session, draws a line,
// then fails a check or throws, inside the guard that korvel_main runs under,
// or throws on a helper thread, where no guard is.
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/check.hpp"
#include "app/session.hpp"
#include "app/startup.hpp"
#include "term/term.hpp"

using namespace korvel;

int main(int argc, char** argv) {
    const std::string how = argc > 1 ? argv[1] : "";
    return reporting_exceptions(argv[0], [&] {
        session s;
        if (!s.install_signal_handlers() || !s.open_terminal()) return 2;
        tb_print(0, 0, TB_DEFAULT, TB_DEFAULT, "the viewer's screen");
        tb_present();
        if (how == "throw") throw std::runtime_error("the core threw");
        if (how == "bad_alloc") throw std::bad_alloc();
        if (how == "thread_throw") {
            std::thread helper([] { throw std::runtime_error("a helper thread threw"); });
            helper.join();
        }
        KORVEL_CHECK(how != "check");
        return 0;
    });
}
