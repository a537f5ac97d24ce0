// Puts the program-wide state back to how the program starts.
#pragma once

#include <string>

void ResetProgramState();

// Opens and indexes `listing` with the progress lines swallowed.
bool OpenListingQuietly(const std::string& listing);

// The loaded window of the displayed state as strings.
std::string LoadedLine(unsigned index);
