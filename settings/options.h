#pragma once
// The options file "options.ini": phone number, phone model index, language
// index, one a line; its existence is the first-run marker.
#include <string>

class Program;

// Reads the options file into the options window's phone number box, phone
// model list and language list, in that order; a line that is not an
// integer stops the reading with an error, leaving what was read in place.
void readoptions(Program& program);

// Writes the phone number, the phone model index and the language index,
// one a line, replacing the file atomically.
void writeoptions(Program& program);

bool OptionsFileExists(const Program& program);
