#pragma once
// The reference link server: the agent's server protocol over HTTP on the
// loopback interface, with its data in one SQLite file. The executable
// kelvo-linkserver runs one; tests start one in-process on a free port and
// talk to it through the agent's own transport.
//
// Endpoints (paths below BaseUrl()):
//   POST linkserver                  form parameter "script": a
//                                    "server-script" document; the answer
//                                    is a document of client actions
//   GET  download/ie/update.txt      "version=" and "url=" lines
//   GET  code-table/uninstall-reasons.<lang>.xml   "reason" elements
//   GET  rest/counters/one/<name>    counts <name>, answers 200
//
// Thread-safety: every public operation may be called from any thread
// while the server runs; requests are handled one at a time against the
// store, so a test's inspection never sees half a script applied.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "foundation/KException.h"

namespace kelvo::linkserver {

KELVO_DECLARE_EXCEPTION(TLinkServerException, TKException);

// Port the agent's default settings point at.
inline constexpr int kDefaultPort = 8480;

class TLinkServerCore;

class TLinkServer {
 public:
  // Opens (creating it and its folder when missing) the SQLite file. Raises
  // TLinkServerException when it cannot be opened.
  explicit TLinkServer(std::string dbPath);
  ~TLinkServer();
  TLinkServer(const TLinkServer&) = delete;
  TLinkServer& operator=(const TLinkServer&) = delete;

  // Listens on 127.0.0.1:port on a thread of its own (0 = a free port) and
  // returns the port once requests are accepted. Raises
  // TLinkServerException when the port cannot be bound or the server is
  // already running.
  int Start(int port = 0);
  // Stops listening and waits for the thread; nothing when not running.
  void Stop();
  bool IsRunning() const;
  int Port() const;
  // "http://127.0.0.1:PORT/" (the agent's server base URL setting).
  std::string BaseUrl() const;
  // BaseUrl() + "linkserver".
  std::string ScriptUrl() const;

  // ---- Settings (before or while running)
  // The lines of update.txt; an empty value means the default: this
  // build's version, BaseUrl() + "download/ie/kelvo-ie.exe".
  void SetUpdateInfo(const std::string& version, const std::string& url);
  // One line per request to the stream (nullptr: none, the default).
  void SetRequestLog(std::ostream* out);

  // ---- The protocol without HTTP
  // The answer document text for a script text, exactly as POST answers it.
  std::string ProcessScript(const std::string& scriptText);

  // ---- Inspection and set-up (tests, tools)
  bool HasAccount(const std::string& nickname) const;
  // The stored password, "" for an unknown account.
  std::string Password(const std::string& nickname) const;
  // Registers an account (or sets its password) without a script.
  void AddAccount(const std::string& nickname, const std::string& password);
  // The account's stored links as a "links" document text whose "link"
  // children are in the form load-all-links answers them (every stored
  // link has an "id" of the form ":" + decimal id, private folders
  // excepted). An unknown account gives an empty "links" document.
  std::string LinksXml(const std::string& nickname) const;
  // The same for the public links ("xlinks" root; path, ref, rank).
  std::string XLinksXml(const std::string& nickname) const;
  // Replaces the account's links by the "link" elements of a document text
  // (any root), giving ids to those without. Raises TLinkServerException
  // for text that is not XML or an unknown account (AddAccount first).
  void PutLinks(const std::string& nickname, const std::string& linksXml);
  // The server's sync id of the account (what "connect" compares with the
  // client's), its bookmark and folder counts.
  std::string SyncId(const std::string& nickname) const;
  int LinkCount(const std::string& nickname) const;
  int FolderCount(const std::string& nickname) const;
  // A counter of rest/counters/one/<name> (and of the server's own
  // counters, e.g. "uninstall"); 0 when never counted.
  std::int64_t Counter(const std::string& name) const;
  // Requests answered since Start (all endpoints).
  std::int64_t RequestCount() const;

 private:
  std::unique_ptr<TLinkServerCore> core_;
};

// Default database file: $XDG_DATA_HOME/kelvo-linkserver/links.db, or
// ~/.local/share/kelvo-linkserver/links.db without XDG_DATA_HOME.
std::string DefaultDatabasePath();

}  // namespace kelvo::linkserver
