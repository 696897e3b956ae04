// Where a merge's time goes, when VELMO_PROFILE is set: decoding, drawing,
// the export (from the last progress write to the file write) and the write,
// with the peak resident size and the memory itself; one line on stderr at the
// end (bench/phases and bench/huge read it).
//
// What a native call counts towards is decided once, when the call is bound
// (TimingOf); a call then costs one comparison when profiling is off.
#pragma once

#include <cstdint>
#include <string>

namespace velmo {

class Profile {
 public:
  enum class Timing : std::uint8_t { kUntimed, kLoad, kDecode, kDraw };

  // Switched on from the environment (VELMO_PROFILE), everything counted so far dropped.
  void Reset();
  bool on() const { return on_; }

  // What a native call of this entry counts towards; kUntimed when profiling is off.
  Timing TimingOf(const std::string& entry) const;
  void AddCall(Timing timing, double seconds);
  // A progress bar was written: the export starts after the last one.
  void ProgressWritten();
  void AddWrite(double start, double seconds);
  // Notes the memory in use now (MemoryInUseMiB) towards the peak the line
  // reports; called where the merge holds the most, as a large block is freed
  // and as the file is written.
  void SampleMemory();
  // The line on stderr, when profiling is on.
  void Report() const;

 private:
  bool on_ = false;
  double decode_ = 0, draw_ = 0, export_ = 0, write_ = 0;
  std::uint64_t loads_ = 0;
  double lastProgress_ = -1;
  double memory_ = 0;  // MiB, the most MemoryInUseMiB() gave
};

// Seconds on a steady clock.
double Now();

// One implementation per build (profile_linux.cpp, profile_windows.cpp): the
// largest resident size of the process so far in MiB (0 when unknown); the
// memory the process uses in MiB, each page once however often it is mapped
// (0 when unknown); and the most bytes held in spill files at once (0 where
// there are none).
double PeakResidentMiB();
double MemoryInUseMiB();
std::uint64_t SpilledPeak();

}  // namespace velmo
