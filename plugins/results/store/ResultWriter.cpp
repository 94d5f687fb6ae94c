#include "ResultWriter.h"

#include <algorithm>
#include <cstdio>

namespace vkresults {

using Clock = std::chrono::steady_clock;

TResultWriter::TResultWriter(TStoreConfig config, TWriterOptions options)
    : config_(std::move(config)), options_(options) {
  idleForward_ = !config_.PostgresConfigured();
  serverPause_ = options_.firstRetry;
  localThread_ = std::thread([this] { RunLocal(); });
  if (config_.PostgresConfigured()) forwardThread_ = std::thread([this] { RunForward(); });
}

TResultWriter::~TResultWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  forwardWake_.notify_all();
  if (localThread_.joinable()) localThread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    localDone_ = true;
  }
  forwardWake_.notify_all();
  if (forwardThread_.joinable()) forwardThread_.join();
}

bool TResultWriter::Submit(TResult result, std::string* error) {
  std::string e;
  if (!CheckResult(result, &e)) {
    if (error) *error = e;
    return false;
  }
  // The time the unit was submitted, when the caller gave none.
  if (result.timeUtc.empty()) result.timeUtc = NowUtc();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      if (error) *error = "Запись результатов остановлена; результат " + result.id + " не принят";
      return false;
    }
    if (waiting_.size() >= options_.maxWaiting) {
      if (error)
        *error = "Очередь записи результатов переполнена: " + std::to_string(waiting_.size()) +
                 " результатов ждут записи на диск; результат " + result.id + " не принят";
      return false;
    }
    waiting_.push_back(std::move(result));
  }
  wake_.notify_one();
  return true;
}

void TResultWriter::SetStoredCallback(std::function<void(const TResult&)> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  onStored_ = std::move(callback);
}

TWriterState TResultWriter::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  TWriterState s;
  s.waiting = waiting_.size();
  s.unsent = unsent_;
  s.serverConfigured = config_.PostgresConfigured();
  s.serverReached = serverReached_;
  s.localOpen = localOpen_;
  s.stored = stored_.load();
  s.forwarded = forwarded_.load();
  s.lastError = !localError_.empty() ? localError_ : serverError_;
  return s;
}

bool TResultWriter::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return waiting_.empty() && idleForward_; });
}

void TResultWriter::SetLocalError(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    localError_ = text;
  }
  changed_.notify_all();
}

void TResultWriter::SetServerError(const std::string& text, bool reached) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serverError_ = text;
    serverReached_ = reached;
  }
  changed_.notify_all();
}

// Commits the waiting results one by one, each taken off the queue only once
// it is in the file. False when the file refused one (it stays first).
bool TResultWriter::WriteWaiting(TSqlResultStore& local) {
  const bool withServer = config_.PostgresConfigured();
  for (;;) {
    TResult r;
    std::function<void(const TResult&)> onStored;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (waiting_.empty()) return true;
      r = waiting_.front();
      onStored = onStored_;
    }
    if (!local.Store(r)) {
      SetLocalError("Не удалось сохранить результат на диске: " + local.LastError());
      return false;
    }
    const int64_t unsent = withServer ? local.UnsentCount() : 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.pop_front();
      localError_.clear();
      ++localWrites_;
      // A count that could not be read still wakes the forwarder, which
      // reads the outbox itself.
      if (withServer) unsent_ = unsent >= 0 ? std::max<int64_t>(unsent, 1) : std::max<int64_t>(unsent_, 1);
      if (withServer) idleForward_ = false;  // until the forwarder has looked
    }
    stored_.fetch_add(1);
    changed_.notify_all();
    forwardWake_.notify_one();
    if (onStored) onStored(r);
  }
}

void TResultWriter::RunLocal() {
  std::unique_ptr<TSqlResultStore> local;
  auto pause = options_.firstRetry;
  Clock::time_point nextTry{};
  Clock::time_point giveUp{};  // when stopping and the file stays closed
  for (;;) {
    if (!local && Clock::now() >= nextTry) {
      std::string e;
      local = TSqlResultStore::OpenSqlite(config_.sqliteFile, &e);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        localOpen_ = local != nullptr;
        if (local) {
          localError_.clear();
          pause = options_.firstRetry;
        } else {
          localError_ = e;
        }
      }
      changed_.notify_all();
    }
    if (local && !WriteWaiting(*local)) {
      // The file may have gone bad (disk full, removed): open it anew.
      local.reset();
      std::lock_guard<std::mutex> lock(mutex_);
      localOpen_ = false;
    }
    if (!local && Clock::now() >= nextTry) {
      nextTry = Clock::now() + pause;
      pause = std::min(pause * 2, options_.lastRetry);
    }

    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_ && waiting_.empty()) break;
    if (stopping_ && !local) {
      if (giveUp == Clock::time_point{}) giveUp = Clock::now() + options_.localGiveUpOnStop;
      if (Clock::now() >= giveUp) {
        std::fprintf(stderr, "vkresults: %zu results could not be written to %s: %s\n", waiting_.size(),
                     config_.sqliteFile.c_str(), localError_.c_str());
        break;
      }
    }
    if (local) {
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    } else {
      // Until the next attempt; a stop wakes it once to start the give-up clock.
      const Clock::time_point until = giveUp == Clock::time_point{} ? nextTry : std::min(nextTry, giveUp);
      wake_.wait_until(lock, until, [&] { return stopping_ && giveUp == Clock::time_point{}; });
    }
  }
  local.reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    localOpen_ = false;
  }
  changed_.notify_all();
}

// Forwards unsent results in the order they were stored, each in its own
// server transaction, until none is left, the deadline passes or the writer
// stops.
void TResultWriter::Forward(TSqlResultStore& local, std::unique_ptr<TSqlResultStore>& server, Clock::time_point deadline) {
  auto failed = [&](const std::string& text, bool reached) {
    server.reset();
    SetServerError(text, reached);
    std::lock_guard<std::mutex> lock(mutex_);
    nextServerTry_ = Clock::now() + serverPause_;
    serverPause_ = std::min(serverPause_ * 2, options_.lastRetry);
  };
  // The outbox could not be read or marked: try again after the first pause.
  auto localFailed = [&](const std::string& text) {
    SetLocalError(text);
    std::lock_guard<std::mutex> lock(mutex_);
    nextServerTry_ = Clock::now() + options_.firstRetry;
  };
  if (!server) {
    std::string e;
    server = TSqlResultStore::OpenPostgres(config_, &e);
    if (!server) return failed(e, false);
  }
  for (;;) {
    uint64_t writesSeen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      writesSeen = localWrites_;
    }
    std::vector<TResult> batch = local.Unsent(20);
    if (batch.empty()) {
      if (!local.LastError().empty()) return localFailed(local.LastError());
      std::lock_guard<std::mutex> lock(mutex_);
      serverReached_ = true;
      serverError_.clear();
      serverPause_ = options_.firstRetry;
      // Idle only when nothing was committed locally since the outbox was read.
      if (localWrites_ != writesSeen) continue;
      unsent_ = 0;
      idleForward_ = true;
      break;
    }
    for (const TResult& r : batch) {
      if (!server->Store(r)) {
        const std::string e = server->LastError();
        if (server->Ping()) return failed("Сервер базы данных не принял результат: " + e, true);
        return failed("Сервер базы данных недоступен: " + e, false);
      }
      // Should the program stop right here, the result is sent again next
      // time and the server keeps it once (its id).
      if (!local.MarkSent(r.id)) return localFailed(local.LastError());
      forwarded_.fetch_add(1);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (unsent_ > 0) --unsent_;
        serverReached_ = true;
        serverError_.clear();
        serverPause_ = options_.firstRetry;
        if (stopping_ && !localDone_) return;  // the final pass comes after the last local write
      }
      changed_.notify_all();
      if (Clock::now() >= deadline) return;
    }
  }
  changed_.notify_all();
}

void TResultWriter::RunForward() {
  std::unique_ptr<TSqlResultStore> local;  // this thread's own connection to the outbox
  std::unique_ptr<TSqlResultStore> server;
  for (;;) {
    if (!local) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (localDone_) break;
        if (Clock::now() < nextServerTry_) {
          forwardWake_.wait_until(lock, nextServerTry_, [this] { return localDone_; });
          continue;
        }
      }
      std::string e;
      local = TSqlResultStore::OpenSqlite(config_.sqliteFile, &e);
      if (!local) {
        SetLocalError(e);
        std::lock_guard<std::mutex> lock(mutex_);
        nextServerTry_ = Clock::now() + options_.firstRetry;
        continue;
      }
      // What an earlier run left unsent goes first.
      const int64_t unsent = local->UnsentCount();
      bool nothingToSend;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        unsent_ = std::max<int64_t>(unsent_, unsent);
        nothingToSend = unsent_ == 0 && localWrites_ == 0;
      }
      // Tells the window at once whether the server answers.
      if (nothingToSend) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (localWrites_ == 0) idleForward_ = true;
        }
        changed_.notify_all();
        Forward(*local, server, Clock::time_point::max());
      }
      continue;
    }
    bool final = false, worth = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (localDone_) break;
        // Stopping: the last pass comes once the last result is written.
        if (stopping_) {
          forwardWake_.wait(lock, [this] { return localDone_; });
          continue;
        }
        if (unsent_ > 0 && Clock::now() >= nextServerTry_) break;
        if (unsent_ > 0)
          forwardWake_.wait_until(lock, nextServerTry_);
        else
          forwardWake_.wait(lock);
      }
      final = localDone_;
      worth = serverReached_ && unsent_ > 0;
    }
    if (final) {
      // A server that answered gets what it can take in a moment; the rest
      // waits in the outbox for the next run.
      if (worth) Forward(*local, server, Clock::now() + options_.forwardOnStop);
      break;
    }
    Forward(*local, server, Clock::time_point::max());
  }
  server.reset();
  local.reset();
}

}  // namespace vkresults
