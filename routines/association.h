// Registers the player as the program that opens a file type.
#pragma once
#include <string>

// Writes under the classes root: "."+ext -> progId, progId\DefaultIcon -> "<program>,0" and
// progId\shell\open\command -> "<program> \"%1\"", then tells the shell. Raises at the first
// key or value that cannot be written; what was written before stays and the shell is not told.
void RegisterFileType(const std::string& ext, const std::string& progId);
