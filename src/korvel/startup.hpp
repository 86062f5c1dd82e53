// From the command line to a running viewer and back to an exit status.
#pragma once

#include "korvel/app.hpp"

// 0 go on; 1 exit 0 (help or version printed); 2 exit 1 (getopt_long has
// reported); 3 exit 1 after printing the error text.
int parse_args(options_t* options, int argc, char** argv);
int korvel_main(int argc, char** argv);

int init_ui();
int shutdown_ui();
void cleanup();

void on_quit_signal(int sig);
void on_suspend_signal(int sig);
void on_fatal_signal(int sig);
