// Filled in with the pseudo-terminal harness.
