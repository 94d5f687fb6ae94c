#pragma once
// The writer of a bench: every result submitted is first committed to the
// bench's own SQLite file by the writing thread (then it is safe from a crash
// or kill), and on a line a second thread forwards it from there to the
// line's PostgreSQL server in the order it was stored, so that a slow or
// lost server never holds up the local writes. What the server has not taken
// yet stays in the file marked unsent (the outbox) and is forwarded when the
// server comes back, or by the next run. Each thread has its own connections.
#include "Result.h"
#include "ResultStore.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vkresults {

struct TWriterOptions {
  // Results submitted but not yet committed locally; Submit refuses beyond.
  size_t maxWaiting = 10000;
  // Pauses between attempts to reach the server: doubling from the first to the last.
  std::chrono::milliseconds firstRetry{500};
  std::chrono::milliseconds lastRetry{30000};
  // How long stopping may still forward to a server that was reachable.
  std::chrono::milliseconds forwardOnStop{2000};
  // How long stopping keeps trying a local file that cannot be opened
  // before it gives the waiting results up (and says so on stderr).
  std::chrono::milliseconds localGiveUpOnStop{5000};
};

struct TWriterState {
  size_t waiting = 0;      // submitted, not yet in the local file
  int64_t unsent = 0;      // in the local file, not yet on the line's server (0 without one)
  bool serverConfigured = false;
  bool serverReached = false;  // the last attempt to reach the server succeeded
  bool localOpen = false;      // the local file is open
  uint64_t stored = 0;         // committed locally since start
  uint64_t forwarded = 0;      // taken by the server since start
  std::string lastError;       // Russian, for the window; "" when all is well
};

class TResultWriter {
 public:
  explicit TResultWriter(TStoreConfig config, TWriterOptions options = {});
  // Commits everything submitted to the local file; forwarding that cannot
  // be done quickly stays in the outbox for the next run.
  ~TResultWriter();
  TResultWriter(const TResultWriter&) = delete;
  TResultWriter& operator=(const TResultWriter&) = delete;

  // From any thread; returns at once. False (with *error) when the result
  // is refused: no id, too many waiting, or the writer is stopping.
  bool Submit(TResult result, std::string* error = nullptr);

  // Called in the writing thread after a result is committed locally. Set it
  // before the first Submit.
  void SetStoredCallback(std::function<void(const TResult&)> callback);

  TWriterState State() const;
  uint64_t StoredCount() const { return stored_.load(); }

  // Waits until everything submitted is committed locally and, when the
  // server is configured, forwarded (true), or until the timeout (false).
  bool WaitIdle(std::chrono::milliseconds timeout);

 private:
  void RunLocal();
  void RunForward();
  bool WriteWaiting(TSqlResultStore& local);
  void Forward(TSqlResultStore& local, std::unique_ptr<TSqlResultStore>& server,
               std::chrono::steady_clock::time_point deadline);
  void SetLocalError(const std::string& text);
  void SetServerError(const std::string& text, bool reached);

  const TStoreConfig config_;
  const TWriterOptions options_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;     // the writing thread waits on it
  std::condition_variable forwardWake_;  // the forwarding thread waits on it
  std::condition_variable changed_;  // WaitIdle waits on it
  std::deque<TResult> waiting_;      // the first one is being written
  bool stopping_ = false;            // no more submissions; finish writing
  bool localDone_ = false;           // the writing thread has ended
  uint64_t localWrites_ = 0;         // results committed locally (the forwarder's cue)
  int64_t unsent_ = 0;
  bool serverReached_ = false;
  bool localOpen_ = false;
  bool idleForward_ = true;  // nothing left to forward, or no server
  std::string localError_;   // the local file cannot be opened or written
  std::string serverError_;  // the line's server cannot be reached or refused
  std::chrono::milliseconds serverPause_{0};
  std::chrono::steady_clock::time_point nextServerTry_{};
  std::function<void(const TResult&)> onStored_;

  std::atomic<uint64_t> stored_{0};
  std::atomic<uint64_t> forwarded_{0};
  std::thread localThread_;
  std::thread forwardThread_;
};

}  // namespace vkresults
