#pragma once
// The user's language: the selected entry of the options window's language
// list (0 English, 1 French, -1 none), the rule that picks a message's text,
// and the switch that sets every window's captions.
#include <optional>
#include <string>

class Program;

int LanguageIndex(const Program& program);

// The language rule: the English text when the index is 0; then, read again,
// the French text when it is 1; no text at all otherwise.
std::optional<std::string> ByLanguage(const Program& program, const std::string& english,
                                      const std::string& french);

// Shows a message in the user's language, or nothing when no language is
// active.
void ShowLanguageMessage(Program& program, const std::string& english, const std::string& french);

// The language switch: every window's captions for the current language,
// then the phone model list back to its placeholder.
void moui(Program& program);
