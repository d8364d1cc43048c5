#pragma once

#include <string>

// The number a stored text begins with, blanks, tabs and line feeds skipped wherever they
// are: sign, digits, fraction, exponent ("5e1" is 50); 0 when none.
double leadingNumber(const std::string& text);
// Stored volume (0..100, hundredths of the bar's travel) to a bar position 0..32767.
int storedVolumeToPosition(const std::string& text);
// Bar position to the stored text; the nearest hundredth, so a value survives restarts.
std::string positionToStoredVolume(int position);
