#pragma once
// Where the agent's servers are: base URLs read from settings of the agent
// key, each defaulting to the reference link server on the loopback
// interface. A base always ends in "/" (one is added when the stored value
// lacks it), so callers append their paths directly; an empty or missing
// value gives the default. Any thread.
//
//   "link-server-base"    http://127.0.0.1:8480/   (link server = base + "linkserver")
//   "rest-counters-base"  http://127.0.0.1:8480/
//   "code-table-base"     http://127.0.0.1:8480/
//   "download-site-base"  http://127.0.0.1:8480/

#include <string>

namespace kelvo {

inline constexpr const char* kDefaultServerBase = "http://127.0.0.1:8480/";

class TServerUrls {
 public:
  TServerUrls() = delete;

  static std::string GetLinkServerBase();
  // GetLinkServerBase() + "linkserver".
  static std::string GetLinkServerAddress();
  static std::string GetRestCountersBase();
  static std::string GetCodeTableBase();
  static std::string GetDownloadSiteBase();
};

}  // namespace kelvo
