// From the command line to a running viewer and back to an exit status.
#pragma once

#include <functional>

int korvel_main(int argc, char** argv);

// Runs `body` and returns its status; whatever it throws ends the run as one
// line on standard error (after the program's name) and status 1. By then
// the unwinding has handed the terminal back, so the line stays in sight.
int reporting_exceptions(const char* program, const std::function<int()>& body);
