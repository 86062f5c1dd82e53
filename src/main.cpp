#include <clocale>
#include <cstring>
#include <langinfo.h>

#include "app/startup.hpp"

int main(int argc, char** argv) {
    // The screen is always drawn in UTF-8, as the terminal layer expects;
    // every other category keeps the C locale so system messages and the
    // order of bytes stay the same everywhere.
    if (setlocale(LC_CTYPE, "") == nullptr || strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        setlocale(LC_CTYPE, "C.UTF-8");
    }
    // What the core throws is reported by korvel_main, after the objects
    // that own the terminal have given it back.
    return korvel::korvel_main(argc, argv);
}
