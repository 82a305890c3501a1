#pragma once
// Process-wide configuration store: settings in the registry, the data
// folders, the application-state set with its broadcast.
// (Being filled in: the full interface lands with the configuration work.)

#include <string>

namespace kelvo {

class TConfig {
 public:
  TConfig() = delete;

  static int GetLogLevel();
  static void SetErrorLogged(bool value);
};

}  // namespace kelvo
