#pragma once

// The exit codes of ruvo-cli, as its --help lists them.
enum ExitCode : int {
    kExitDone = 0,
    kExitError = 1,
    kExitRefused = 2,  // busy, refused or declined
    kExitCancelled = 3,
};
