#pragma once

#include <QIcon>
#include <QImage>

// The window's own icon: a disc with a note, drawn on a 16-unit grid in the 16 classic colours.
// The window shows it at 16 × 16 and 32 × 32.
QIcon makeForm1Icon();

// The same drawing at `size` × `size` pixels (size > 0), for the desktop's icon theme.
QImage paintForm1Icon(int size);
