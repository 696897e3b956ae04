#include "platform/graphics/decode_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace graphics {
namespace {

constexpr off_t kMaxFileBytes = off_t(1) << 30;

std::int64_t Nanoseconds(const timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

FileStamp StampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

std::size_t BytesOf(const Picture& p) {
  const std::size_t pixels = std::size_t(p.width) * std::size_t(p.height);
  return pixels * 4 + (p.alpha ? pixels : 0);
}

std::string DirOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The tile number as a merge writes it: at least three digits.
std::string TileNumber(unsigned long n) {
  std::string s = std::to_string(n);
  return s.size() < 3 ? std::string(3 - s.size(), '0') + s : s;
}

// The number of sub-directories of `dir` ("." and ".." left out): the row
// count of a zoom directory, and so the number of tiles a merge draws per
// row. Remembered while the directory is unchanged.
std::size_t RowCount(const std::string& dir) {
  static std::mutex lock;
  static std::string lastDir;
  static std::int64_t lastMtime = -1;
  static std::size_t lastCount = 0;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return 0;
  std::lock_guard guard(lock);
  if (dir == lastDir && Nanoseconds(st.st_mtim) == lastMtime) return lastCount;
  std::size_t count = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        struct stat sub {};
        isDir = ::stat((dir + "/" + name).c_str(), &sub) == 0 && S_ISDIR(sub.st_mode);
      }
      count += isDir;
    }
    ::closedir(d);
  }
  lastDir = dir;
  lastMtime = Nanoseconds(st.st_mtim);
  lastCount = count;
  return count;
}

// Reads and decodes the file: LoadPictureFile without the failure's reason.
GpStatus ReadAndDecode(const std::string& posixPath, Picture& out, FileStamp* stamp,
                       std::unique_ptr<metafile::Metafile>* metafile);

}  // namespace

GpStatus LoadPictureFile(const std::string& posixPath, Picture& out, FileStamp* stamp,
                         std::unique_ptr<metafile::Metafile>* metafile) {
  ClearFailureReason();
  const GpStatus status = ReadAndDecode(posixPath, out, stamp, metafile);
  switch (status) {
    case Gdiplus::Ok: SetLoadFailure(LoadFailure::kNone); break;
    case Gdiplus::FileNotFound: SetLoadFailure(LoadFailure::kMissing); break;
    case Gdiplus::Win32Error: SetLoadFailure(LoadFailure::kUnreadable); break;
    case Gdiplus::UnknownImageFormat: SetLoadFailure(LoadFailure::kNotAPicture); break;
    case Gdiplus::OutOfMemory: SetLoadFailure(LoadFailure::kTooLarge); break;
    default: SetLoadFailure(TakeTruncated() ? LoadFailure::kTruncated : LoadFailure::kDamaged); break;
  }
  TakeTruncated();
  return status;
}

namespace {

GpStatus ReadAndDecode(const std::string& posixPath, Picture& out, FileStamp* stamp,
                       std::unique_ptr<metafile::Metafile>* metafile) {
  // Non-blocking, so that a named pipe or a device named like a tile cannot
  // hold the caller (or the worker, and with it the shut-down) in open.
  const int fd = ::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return Failed(errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? Gdiplus::FileNotFound
                                                                               : Gdiplus::Win32Error,
                  std::string("cannot open: ") + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return Failed(Gdiplus::Win32Error, "not a regular file");
  if (st.st_size > kMaxFileBytes) return Failed(Gdiplus::OutOfMemory, "a file larger than a picture may be");
  std::size_t size = std::size_t(st.st_size);
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size ? size : 1]);
  if (!data) return Failed(Gdiplus::OutOfMemory, "no memory for the file");
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, data.get() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed(Gdiplus::Win32Error, std::string("cannot read: ") + std::strerror(errno));
    if (n == 0) break;  // the file shrank: decode what there is
    got += std::size_t(n);
  }
  if (stamp) *stamp = StampOf(st);
  if (metafile && metafile::IsMetafile({data.get(), got})) {
    auto parsed = std::make_unique<metafile::Metafile>();
    if (GpStatus s = metafile::Parse(std::move(data), got, *parsed); s != Gdiplus::Ok) return s;
    *metafile = std::move(parsed);
    return Gdiplus::Ok;
  }
  return DecodePicture({data.get(), got}, out);
}

}  // namespace

std::vector<std::string> PredictNextTiles(const std::string& posixPath, std::size_t count) {
  std::vector<std::string> next;
  const std::string rowDir = DirOf(posixPath), zoomDir = DirOf(rowDir);
  const std::string row = NameOf(rowDir), zoom = NameOf(zoomDir), name = NameOf(posixPath);
  const std::string lead = zoom + row, ext = ".png";
  if (row.empty() || zoom.empty() || name.size() < lead.size() + 3 + ext.size() ||
      name.compare(0, lead.size(), lead) != 0 ||
      name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
    return next;
  const std::string number = name.substr(lead.size(), name.size() - lead.size() - ext.size());
  if (!AllDigits(number) || number.size() > 9) return next;
  if (number.size() > 3 && number[0] == '0') return next;  // not a number a merge writes
  const std::size_t rows = RowCount(zoomDir);
  if (rows == 0) return next;

  unsigned long tile = std::stoul(number) + 1;
  std::string rowName = row;
  while (next.size() < count) {
    if (tile >= rows) {
      // The following row, when rows are numbered with a fixed width.
      if (!AllDigits(rowName) || rowName.size() > 9) break;
      std::string following = std::to_string(std::stoul(rowName) + 1);
      if (following.size() < rowName.size())
        following.insert(0, rowName.size() - following.size(), '0');
      struct stat st {};
      if (::stat((zoomDir + "/" + following).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) break;
      rowName = following;
      tile = 0;
      continue;
    }
    next.push_back(zoomDir + "/" + rowName + "/" + zoom + rowName + TileNumber(tile) + ext);
    ++tile;
  }
  return next;
}

DecodeAhead::DecodeAhead(std::size_t window, std::size_t maxBytes)
    : window_(window), maxBytes_(maxBytes) {}

DecodeAhead::~DecodeAhead() { Stop(); }

std::size_t DecodeAhead::Hits() const {
  std::lock_guard lock(mutex_);
  return hits_;
}

void DecodeAhead::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(mutex_);
  entries_.clear();
  queue_.clear();
  readyBytes_ = 0;
  stop_ = false;
}

void DecodeAhead::Schedule(const std::string& asked, const std::vector<std::string>& next) {
  // Whatever the new prediction does not name will not be asked for soon.
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->first == asked || std::find(next.begin(), next.end(), it->first) != next.end()) {
      ++it;
      continue;
    }
    if (it->second.state == State::kDecoding) {
      it->second.dropped = true;
      ++it;
      continue;
    }
    if (it->second.state == State::kReady) readyBytes_ -= BytesOf(it->second.picture);
    it = entries_.erase(it);
  }
  queue_.clear();
  for (const std::string& path : next) {
    auto [it, added] = entries_.try_emplace(path);
    if (added || it->second.state == State::kPending) queue_.push_back(path);
    else it->second.dropped = false;
  }
  if (!queue_.empty()) changed_.notify_all();
}

bool DecodeAhead::DecodeOne(std::unique_lock<std::mutex>& lock) {
  while (!queue_.empty()) {
    const std::string path = std::move(queue_.front());
    queue_.pop_front();
    auto it = entries_.find(path);
    if (it == entries_.end() || it->second.state != State::kPending) continue;
    it->second.state = State::kDecoding;
    lock.unlock();
    Picture picture;
    FileStamp stamp;
    const GpStatus status = LoadPictureFile(path, picture, &stamp);
    lock.lock();
    it = entries_.find(path);
    if (it != entries_.end()) {
      if (status != Gdiplus::Ok || it->second.dropped || stop_) {
        entries_.erase(it);
      } else {
        it->second.state = State::kReady;
        it->second.picture = std::move(picture);
        it->second.stamp = stamp;
        readyBytes_ += BytesOf(it->second.picture);
      }
    }
    changed_.notify_all();
    return true;
  }
  return false;
}

void DecodeAhead::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (readyBytes_ < maxBytes_ && DecodeOne(lock)) continue;
    changed_.wait(lock);
  }
}

GpStatus DecodeAhead::Load(const std::string& posixPath, Picture& out,
                           std::unique_ptr<metafile::Metafile>* metafile) {
  const std::vector<std::string> next = PredictNextTiles(posixPath, window_);
  std::unique_lock lock(mutex_);
  if (!next.empty()) {
    if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    Schedule(posixPath, next);
  }
  for (;;) {
    auto it = entries_.find(posixPath);
    if (it == entries_.end() || it->second.state == State::kPending) {
      if (it != entries_.end()) entries_.erase(it);  // its turn has come: decode it here
      break;
    }
    if (it->second.state == State::kReady) {
      Picture picture = std::move(it->second.picture);
      const FileStamp stamp = it->second.stamp;
      readyBytes_ -= BytesOf(picture);
      entries_.erase(it);
      changed_.notify_all();
      lock.unlock();
      struct stat st {};
      if (::stat(posixPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && StampOf(st) == stamp) {
        out = std::move(picture);
        std::lock_guard count(mutex_);
        ++hits_;
        return Gdiplus::Ok;
      }
      return LoadPictureFile(posixPath, out, nullptr, metafile);  // the file changed since: decode what it is now
    }
    // Being decoded by the worker: help with the queue rather than wait idle.
    if (!(readyBytes_ < maxBytes_ && DecodeOne(lock))) changed_.wait(lock);
  }
  lock.unlock();
  return LoadPictureFile(posixPath, out, nullptr, metafile);
}

}  // namespace graphics
