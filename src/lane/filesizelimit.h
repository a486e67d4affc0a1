#pragma once

// A write past the file size limit (RLIMIT_FSIZE) would kill the program with SIGXFSZ,
// without a word and in the middle of a transfer. Ignored, the write fails with EFBIG: a
// write failure like any other, reported with its text, the partial file kept. Called once
// where a program starts.
void failWritesPastTheFileSizeLimit();
