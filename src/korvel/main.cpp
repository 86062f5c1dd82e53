#include <clocale>
#include <exception>
#include <new>
#include <cstring>
#include <langinfo.h>

#include "korvel/startup.hpp"
#include "korvel/status.hpp"

int main(int argc, char** argv) {
    // The screen is always drawn in UTF-8, as the terminal layer expects;
    // every other category keeps the C locale so system messages and the
    // order of bytes stay the same everywhere.
    if (setlocale(LC_CTYPE, "") == nullptr || strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        setlocale(LC_CTYPE, "C.UTF-8");
    }
    // What the core throws (memory refused, most likely under a limit on
    // the address space) ends korvel with one line, never an abort; by now
    // the objects that own the terminal have given it back.
    const char* program = argc >= 1 ? argv[0] : "korvel";
    try {
        return korvel_main(argc, argv);
    } catch (const std::bad_alloc&) {
        print_error(program, "out of memory");
    } catch (const std::exception& e) {
        print_error(program, e.what());
    }
    return 1;
}
