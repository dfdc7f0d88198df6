#pragma once
// Small routines of the main window's preview that other windows use.
#include <string>

class Program;

// True when the first seven characters, in lower case, are "http://".
bool beginwithhttp(const std::string& text);

// Opens an address in the program registered for HTML files: the program
// path between the first two double quotes of HKEY_CLASSES_ROOT
// "\htmlfile\shell\open\command". False when that value is empty.
bool BrowseURL(const std::string& address);

// Returns once the tick count has advanced by more than `ms`, letting the
// application handle its messages meanwhile.
void pause(Program& program, int ms);

// The send invitation, run after a local picture has been previewed: a
// random nudge towards sending it. Errors of a send it starts reach the
// caller.
void SendInvitationOnSelection(Program& program);
