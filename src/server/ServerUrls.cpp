#include "server/ServerUrls.h"

#include "foundation/Config.h"

namespace kelvo {

namespace {

std::string ReadBase(const char* name) {
  std::string value = TConfig::ReadValue("", name);
  // Surrounding blanks come from hand-edited settings, never from a URL.
  const auto first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return kDefaultServerBase;
  value = value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
  if (value.back() != '/') value += '/';
  return value;
}

}  // namespace

std::string TServerUrls::GetLinkServerBase() { return ReadBase("link-server-base"); }

std::string TServerUrls::GetLinkServerAddress() { return GetLinkServerBase() + "linkserver"; }

std::string TServerUrls::GetRestCountersBase() { return ReadBase("rest-counters-base"); }

std::string TServerUrls::GetCodeTableBase() { return ReadBase("code-table-base"); }

std::string TServerUrls::GetDownloadSiteBase() { return ReadBase("download-site-base"); }

}  // namespace kelvo
