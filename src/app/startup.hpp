// From the command line to a running viewer and back to an exit status.
#pragma once

int korvel_main(int argc, char** argv);
