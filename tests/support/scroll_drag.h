#pragma once

class QScrollBar;

// Drags a vertical bar's thumb with the mouse from the top to `fraction` of its travel
// (0 top, 1 bottom), in small moves, as a user would. The bar must be shown.
void dragThumb(QScrollBar* bar, double fraction);
