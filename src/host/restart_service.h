// Asks the service control manager, through an elevated shell, to start this
// service again; at most once per process.
#pragma once

void RestartService();
