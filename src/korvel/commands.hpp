// Running the shell command bound to a key, on the ordinary screen.
#pragma once

#include "config.hpp"

void run_command(const command* cmd);
