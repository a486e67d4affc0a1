#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

// How a fuzz target cuts its input into the reads a peer's bytes arrive in. Each plan is the
// list of the reads' end positions, ascending, the last one at the end of the input.

// One read of everything.
std::vector<qsizetype> singleRead(qsizetype size);
// A read per byte.
std::vector<qsizetype> oneByteReads(qsizetype size);
// Reads of mixed lengths (a few bytes, tens of bytes, and more than a block message), drawn
// from a hash of the input: the input itself stays plain protocol bytes, so a corpus file or
// a saved crash reads as what a peer sent, and the same input is always cut the same way.
std::vector<qsizetype> hashedReads(QByteArrayView input);

// A number from 0 to `most` drawn from a hash of the input, as likely to have few digits as
// many: for the block indexes and sizes of this program's own messages.
qint64 hashedNumber(QByteArrayView input, qint64 most);

bool isReadEnd(const std::vector<qsizetype>& readEnds, qsizetype position);
