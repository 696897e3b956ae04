// Loading picture files for GdipLoadImageFromFile, with decode-ahead.
//
// A merge loads its tiles one by one, in an order that the file names give
// away: "<zoom>/<row>/<zoom><row><NNN>.png", NNN counting up from 000 to the
// number of row directories less one, then the next row. While the caller
// draws one tile, a worker thread decodes the next few into a small cache
// keyed by path; the caller's own call still returns exactly what a fresh
// read and decode at that moment would give:
//  - a cached picture is handed out only when the file still has the
//    identity it had when the worker read it (device, inode, size,
//    modification and change times); otherwise the file is decoded afresh;
//  - failures are never cached: a file the worker could not load is loaded
//    again at the call, which reports its own status;
//  - the calls stay synchronous and nothing else moves: only decoding work is
//    done earlier, on the second core. A caller that would wait for the
//    worker decodes the next queued file itself instead.
// The cache is bounded (entries and bytes) and holds only pictures predicted
// from the latest request; Stop ends the worker and frees everything.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/graphics/metafile.h"
#include "platform/graphics/picture.h"

namespace graphics {

// What identifies a file's content without reading it.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
  std::int64_t ctimeNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// Reads and decodes the file at `posixPath`, with GdipLoadImageFromFile's
// statuses. On Ok, `stamp` (when given) is the identity of the file read.
// With `metafile`, a metafile is parsed into it (and `out` left empty);
// without, a metafile is content not decoded (UnknownImageFormat), so the
// worker below never caches one: metafiles bypass decode-ahead.
GpStatus LoadPictureFile(const std::string& posixPath, Picture& out, FileStamp* stamp = nullptr,
                         std::unique_ptr<metafile::Metafile>* metafile = nullptr);

// The tiles a merge asks for after `posixPath`, nearest first, at most
// `count`: the rest of its row (as many tiles as the zoom directory has row
// directories), then the rows whose numeric names follow. Empty when the name
// is not a tile's name.
std::vector<std::string> PredictNextTiles(const std::string& posixPath, std::size_t count);

class DecodeAhead {
 public:
  explicit DecodeAhead(std::size_t window = 8, std::size_t maxBytes = std::size_t(64) << 20);
  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // As LoadPictureFile(posixPath, out, nullptr, metafile), and schedules the
  // files likely to be asked for next.
  GpStatus Load(const std::string& posixPath, Picture& out,
                std::unique_ptr<metafile::Metafile>* metafile = nullptr);

  // Ends the worker and frees the cache. A later Load starts afresh.
  void Stop();

  // Loads answered from the cache so far.
  std::size_t Hits() const;

 private:
  enum class State { kPending, kDecoding, kReady };
  struct Entry {
    State state = State::kPending;
    Picture picture;
    FileStamp stamp;
    bool dropped = false;  // evicted while being decoded: discard the result
  };

  // Keeps `asked` and the entries of `next`, drops the rest, queues `next`.
  void Schedule(const std::string& asked, const std::vector<std::string>& next);
  // Decodes the first pending entry; lock held on entry and on return.
  bool DecodeOne(std::unique_lock<std::mutex>& lock);
  void Run();

  const std::size_t window_;
  const std::size_t maxBytes_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Entry> entries_;
  std::deque<std::string> queue_;  // pending paths, nearest first
  std::size_t readyBytes_ = 0;
  std::size_t hits_ = 0;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace graphics
