#pragma once

// A fuzz target's assertion: on failure it prints the condition and aborts, which libFuzzer
// reports as a crash and saves the input that caused it.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzzCheckFailed(#condition, __FILE__, __LINE__))

[[noreturn]] void fuzzCheckFailed(const char* condition, const char* file, int line);
