// From the command line to a running viewer and back to an exit status.
#pragma once

namespace korvel {

int korvel_main(int argc, char** argv);

} // namespace korvel
