// Restarting the service through a hidden elevated command shell.
#pragma once

// Asks the service control manager for the service's process id and launches
// a shell command that ends that process (if there is one) and starts the
// service again. Only the first call in a process does anything; the others
// return at once, even while the first is still at work.
void RestartService();
