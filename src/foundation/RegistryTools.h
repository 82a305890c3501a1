#pragma once
// Registry functions of the settings store and the main agent, over the
// process-wide Registry(). A key is addressed by its root and a
// "\"-separated path (a trailing "\" is allowed). None of them throws for a
// missing key or value; a root of TRegRoot::None behaves like a key that
// cannot be opened.

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace kelvo {

// Deletes the key with all its subkeys and values; false when it did not
// exist or could not be deleted.
bool DeleteRegKey(TRegRoot root, const std::string& key);
// False when the value did not exist or could not be deleted.
bool DeleteRegValue(TRegRoot root, const std::string& key, const std::string& name);
// The string value; exists tells whether there was one (a value of another
// type does not count).
std::string ReadRegStringEx(TRegRoot root, const std::string& key, const std::string& name,
                            bool& exists);
// The string value, or defaultValue when the key cannot be opened, the value
// is missing or it is not a string.
std::string ReadRegString(TRegRoot root, const std::string& key, const std::string& name,
                          const std::string& defaultValue = "");
// Every string value of the key as "name=value", in stored order; empty when
// the key cannot be opened.
std::vector<std::string> ListRegStrings(TRegRoot root, const std::string& key);
// Writes a string value, creating the key; false when the key cannot be
// opened or created.
bool WriteRegString(TRegRoot root, const std::string& key, const std::string& name,
                    const std::string& value);

}  // namespace kelvo
