// Supervision of a running download: the dispatcher (failed transfers are
// continued elsewhere, stalled ones replaced, large ranges split), the
// end-of-transfer check, verification and repair.
#include <cstring>
#include <vector>

#include "download/downloader_curl.h"
#include "platform/clock.h"
#include "shell/log.h"

namespace zel {

void DownloaderCurl::Dispatch() {
  WriteLog("Download_Dispatch Begining.\n");
  while (running_) {
    {
      std::unique_lock<std::mutex> wait(wake_lock_);
      wake_.wait_for(wait, std::chrono::milliseconds(timing_.dispatch_interval_ms),
                     [this] { return !running_.load(); });
    }
    if (!running_)
      break;
    std::int32_t count;
    {
      std::lock_guard<std::mutex> hold(lock_);
      count = static_cast<std::int32_t>(table_.size());
      std::vector<std::thread> finished;
      ReapWorkersLocked(&finished);
      for (std::thread& thread : finished)
        thread.join();
    }
    // Items made during this pass wait for the next one.
    bool leave = false;
    for (std::int32_t id = 0; id < count && running_ && !leave; ++id) {
      leave = VisitItem(id) == Visit::kLeaveLoop;
    }
    if (leave)
      break;
    // Successors may all have ended before their predecessors were retired.
    std::lock_guard<std::mutex> hold(lock_);
    TryFinishLocked();
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    // A run that lost its last URL may still hold every byte.
    if (!ended_ && !stopped_ && buffer_) {
      if (CheckHashLocked(false) == Verdict::kPass) {
        FinishRunLocked();
      } else {
        WriteLog("Download_Dispatch : CheckHash download failed.\n");
        FailRunLocked(static_cast<DownloadError>(error_.load()), downloaded_,
                      static_cast<long>(total_.load()));
      }
    }
  }
  WriteLog("Download_Dispatch Endding.\n");
}

DownloadItem* DownloaderCurl::StoreSuccessorLocked(const DownloadItem& from, const char* url,
                                                   std::uint32_t start, std::uint32_t end) {
  std::int32_t id = static_cast<std::int32_t>(table_.size());
  DownloadItem& item = table_[id];
  item = from;
  std::uint32_t now = platform::TickCountMs();
  item.id = id;
  item.url = url;
  item.handle = nullptr;
  item.result = 0;
  item.thread = 0;
  item.start = start;
  item.pos = start;
  item.end = end;
  item.speed = 0;
  item.tick_last = now;
  item.tick_start = now;
  item.tick_end = 0;
  item.status = E_Status_Runing;
  return &item;
}

DownloaderCurl::Visit DownloaderCurl::VisitItem(std::int32_t id) {
  DownloadItem* retire = nullptr;
  std::int32_t retire_as = E_Status_Runing;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!running_)
      return Visit::kLeaveLoop;
    auto found = table_.find(id);
    if (found == table_.end())
      return Visit::kNext;
    DownloadItem& item = found->second;
    std::int32_t status = item.status.load();
    if (status == E_Status_Fail) {
      if (item.pos.load() >= static_cast<std::uint64_t>(item.end.load()) + 1) {
        item.status = E_Status_StopByDispatch;  // cut at a shortened end: its range is done
        return Visit::kNext;
      }
      const char* url = GetBestURLLocked(item.url);
      if (url == nullptr && cdn_.valid && std::strcmp(cdn_.url, item.url) != 0) {
        url = cdn_.url;
        using_cdn_ = true;
      }
      if (url == nullptr) {
        WriteLog("Download_Dispatch : download error fail , ID(%d).\n", item.id);
        running_ = false;
        std::string host = UrlHost(item.url);
        if (!host.empty())
          WriteLog("Download_Dispatch link :(%s).\n", host.c_str());
        error_ = static_cast<std::int32_t>(repaired_ ? DownloadError::RepairFailError
                                                     : DownloadError::DispatchFailError);
        curl_error_ = item.result.load();
        last_fail_link_ = item.url;
        return Visit::kLeaveLoop;
      }
      DownloadItem* next = StoreSuccessorLocked(item, url, item.pos, item.end);
      // Started before the pause, so the end-of-transfer check never sees a
      // moment without transfers while the work is being handed over.
      BeginDownloadItemLocked(next);
      retire = &item;
      retire_as = Replaced;
    } else if (status == E_Status_Runing) {
      // A transfer that got nothing since the last pass has no speed now;
      // its last block's speed would keep a stalled mirror looking fastest.
      if (IsStalled(platform::TickCountMs(), item.tick_last, timing_.dispatch_interval_ms)) {
        item.speed = 0;
      }
      if (PastShare(downloaded_, total_, timing_.stall_share))
        return Visit::kNext;
      if (cdn_.valid && std::strcmp(item.url, cdn_.url) == 0)
        return Visit::kNext;
      if (!IsStalled(platform::TickCountMs(), item.tick_last, timing_.stall_ms)) {
        return Visit::kNext;
      }
      std::uint32_t pos = item.pos;
      std::uint32_t end = item.end;
      if (pos > end) {
        item.status = E_Status_StopByDispatch;  // nothing left to hand over
        return Visit::kNext;
      }
      const char* url = GetBestURLLocked(item.url);
      if (url == nullptr) {
        if (!cdn_.valid)
          return Visit::kNext;  // nowhere else to go: let it carry on
        url = cdn_.url;
        using_cdn_ = true;
      }
      WriteLog("Download_Dispatch : ID(%d) stalled at %u, handed over.\n", item.id, pos);
      DownloadItem* next = StoreSuccessorLocked(item, url, pos, end);
      item.end = pos;  // its next block ends it
      BeginDownloadItemLocked(next);
      retire = &item;
      retire_as = E_Status_StopByDispatch;
    } else if (status == E_Status_Succeed) {
      std::int32_t active = 0;
      DownloadItem* big = nullptr;
      std::uint32_t big_remaining = 0;
      for (auto& [other_id, other] : table_) {
        if (other.status.load() != E_Status_Runing)
          continue;
        ++active;
        std::uint32_t remaining = Remaining(other.pos, other.end);
        if (remaining > big_remaining) {
          big_remaining = remaining;
          big = &other;
        }
      }
      if (active >= segment_count_ || big == nullptr)
        return Visit::kNext;
      std::optional<SplitPlan> split = PlanSplit(big->pos, big->end, timing_.min_split);
      if (!split)
        return Visit::kNext;
      const char* url = GetBestURLLocked(big->url);
      if (url == nullptr) {
        if (cdn_.valid) {
          url = cdn_.url;
          using_cdn_ = true;
        } else {
          url = item.url;
        }
      }
      DownloadItem* next =
          StoreSuccessorLocked(*big, url, split->successor_start, split->successor_end);
      BeginDownloadItemLocked(next);
      big->end = split->kept_end;
    }
  }
  if (retire != nullptr) {
    platform::SleepMs(timing_.successor_pause_ms);
    retire->status = retire_as;  // its stop check then ends the transfer
  }
  return Visit::kNext;
}

const char* DownloaderCurl::GetBestURLLocked(const char* excluded) {
  const char* url = PickBestUrl(table_, excluded);
  if (url != nullptr && IsCdnUrl(url, cdn_markers_))
    using_cdn_ = true;
  return url;
}

void DownloaderCurl::CheckFinish(DownloadItem* item) {
  WriteLog("Download_CheckFinish.\n");
  std::lock_guard<std::mutex> hold(lock_);
  --unchecked_transfers_;
  NotifyLocked(kNotifyItemEnded, static_cast<unsigned>(item->id), reinterpret_cast<long>(item));
  TryFinishLocked();
}

void DownloaderCurl::TryFinishLocked() {
  // A transfer that has let go of its handle but not yet reported its end
  // will check again itself; its notification 7 comes before the finish.
  if (unchecked_transfers_ > 0 && !HasHandleLocked())
    return;
  for (const auto& [id, other] : table_) {
    if (other.handle.load() != nullptr) {
      WriteLog("Download_CheckFinish : continue. now wait (%d).\n", id);
      return;
    }
  }
  // A failed transfer with bytes still owed is the dispatcher's to continue
  // (or to end the run with its link); verifying now would only start
  // repairs for bytes that were never fetched. The dispatcher checks again
  // once it has dealt with it.
  for (const auto& [id, other] : table_) {
    if (other.status.load() == E_Status_Fail && other.pos.load() <= other.end.load()) {
      WriteLog("Download_CheckFinish : continue. now wait (%d).\n", id);
      return;
    }
  }
  if (buffer_ && running_ && !ended_) {
    if (CheckHashLocked(true) == Verdict::kPass)
      FinishRunLocked();
  }
}

bool DownloaderCurl::HasHandleLocked() const {
  for (const auto& [id, item] : table_) {
    if (item.handle.load() != nullptr)
      return true;
  }
  return false;
}

DownloaderCurl::Verdict DownloaderCurl::CheckHashLocked(bool repair) {
  std::vector<BadRange> bad = FindBadRanges(buffer_.get(), total_, hasher_->DigestHex(),
                                            config_.file_md5, config_.chunk_md5);
  if (bad.empty())
    return Verdict::kPass;
  if (!repair)
    return Verdict::kFailed;
  // Bounded: a chunk that never matches must end the run, not loop.
  for (const BadRange& range : bad) {
    int limit = range.index == kWholeFile ? 1 : timing_.max_chunk_repairs;
    if (repair_rounds_[range.index] >= limit) {
      WriteLog("Download_CheckHash : bytes %u-%u still wrong after %d repairs.\n", range.first,
               range.last, repair_rounds_[range.index]);
      FailRunLocked(DownloadError::RepairFailError, downloaded_, static_cast<long>(total_));
      return Verdict::kFailed;
    }
  }
  for (const BadRange& range : bad) {
    ++repair_rounds_[range.index];
    repaired_ = true;
    WriteLog("Download_CheckHash : bytes %u-%u do not match their digest.\n", range.first,
             range.last);
    if (RepairDataLocked(range.first, range.last) < 0) {
      // No URL left to fetch from: nothing would ever end this run.
      FailRunLocked(DownloadError::RepairFailError, downloaded_, static_cast<long>(total_));
      return Verdict::kFailed;
    }
  }
  return Verdict::kRepairing;
}

HResult DownloaderCurl::RepairDataLocked(std::uint32_t first, std::uint32_t last) {
  const DownloadItem* covering = nullptr;
  for (const auto& [id, item] : table_) {
    if (item.start <= first && item.end.load() >= last) {
      covering = &item;
      break;
    }
  }
  const char* url = GetBestURLLocked(covering != nullptr ? covering->url : nullptr);
  if (url == nullptr && cdn_.valid) {
    url = cdn_.url;
    using_cdn_ = true;
  }
  if (url == nullptr) {
    WriteLog("Download_RepairData : GetBestURL error, start(%d), end(%d).\n",
             static_cast<int>(first), static_cast<int>(last));
    repair_link_.clear();
    return kInvalidArg;
  }
  repair_link_ = url;
  if (covering == nullptr || covering->end.load() <= covering->start) {
    covering = table_.empty() ? nullptr : &table_.begin()->second;
  }
  DownloadItem blank;
  DownloadItem* next =
      StoreSuccessorLocked(covering != nullptr ? *covering : blank, url, first, last);
  WriteLog("Download_RepairData : GetBestURL Info, start(%d), end(%d), ID(%d).\n",
           static_cast<int>(first), static_cast<int>(last), next->id);
  return BeginDownloadItemLocked(next);
}

}  // namespace zel
