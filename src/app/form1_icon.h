#pragma once

#include <QIcon>

// The window's own icon: a disc with a note, painted in the 16 classic colours at 16 × 16 and
// 32 × 32.
QIcon makeForm1Icon();
