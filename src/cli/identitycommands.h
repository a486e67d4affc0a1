#pragma once

struct CliOptions;

// `ruvo-cli id`, `trust` and `untrust`: this copy's fingerprint and the computers it trusts,
// in the configuration folder the window uses too. Returns the exit code.
int runIdentityCommand(const CliOptions& options);
