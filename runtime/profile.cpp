#include "runtime/profile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace velmo {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Profile::Reset() {
  *this = Profile{};
  on_ = std::getenv("VELMO_PROFILE") != nullptr;
}

Profile::Timing Profile::TimingOf(const std::string& entry) const {
  if (!on_) return Timing::kUntimed;
  if (entry == "GdipLoadImageFromFile") return Timing::kLoad;
  if (entry == "GdipGetImageDimension") return Timing::kDecode;
  if (entry.rfind("Gdip", 0) == 0) return Timing::kDraw;
  return Timing::kUntimed;
}

void Profile::AddCall(Timing timing, double seconds) {
  switch (timing) {
    case Timing::kLoad:
      ++loads_;
      [[fallthrough]];
    case Timing::kDecode:
      decode_ += seconds;
      return;
    case Timing::kDraw:
      draw_ += seconds;
      return;
    case Timing::kUntimed:
      return;
  }
}

void Profile::ProgressWritten() {
  if (on_) lastProgress_ = Now();
}

void Profile::SampleMemory() {
  if (on_) memory_ = std::max(memory_, MemoryInUseMiB());
}

void Profile::AddWrite(double start, double seconds) {
  SampleMemory();  // the bitmap and the file's bytes are both held now
  if (lastProgress_ >= 0) export_ += start - lastProgress_;
  write_ += seconds;
  lastProgress_ = -1;
}

void Profile::Report() const {
  if (!on_) return;
  std::fprintf(stderr,
               "velmo: profile: decode %.3f s (%llu loads), draw %.3f s, export %.3f s, write %.3f s, "
               "peak %.1f MiB, memory %.1f MiB, spilled %.1f MiB\n",
               decode_, static_cast<unsigned long long>(loads_), draw_, export_, write_, PeakResidentMiB(),
               std::max(memory_, MemoryInUseMiB()), SpilledPeak() / (1024.0 * 1024.0));
}

}  // namespace velmo
