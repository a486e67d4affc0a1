#pragma once

#include <QString>

// "name (n).ext" for "name.ext" (the number before the last extension; "name (n)" for a
// name without one): where a received file goes when the folder holds another file of its
// name.
QString numberedName(const QString& name, int n);
