#pragma once
// The single entry through which user-visible source texts pass on their way
// to the screen. Until a message catalogue is plugged in, a text translates to
// itself. Any thread may call it.

#include <functional>
#include <string>

namespace kelvo {

using TTranslator = std::function<std::string(const std::string&)>;

// The text in the current user-interface language (the text itself when no
// catalogue is installed or the catalogue throws).
std::string Translate(const std::string& text);

// Installs the catalogue lookup; an empty function restores the identity.
void SetTranslator(TTranslator translator);

}  // namespace kelvo
