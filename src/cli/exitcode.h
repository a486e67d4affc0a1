#pragma once

// The exit codes of ruvo-cli, as its --help lists them.
enum ExitCode : int {
    kExitDone = 0,
    kExitError = 1,
    kExitRefused = 2,  // busy or declined
    kExitCancelled = 3,
    kExitUsage = 64,  // the command line was wrong (as sysexits' EX_USAGE)
};
