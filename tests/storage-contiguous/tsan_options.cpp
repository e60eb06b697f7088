// ThreadSanitizer options of the contiguous store's test programs.
//
// The partitions' internal scans take Kyoto Cabinet's reader lock on every record slot at
// once (1024 locks), beyond the 64 held locks that ThreadSanitizer's deadlock detector can
// track; the detector is turned off, data-race detection stays on. The runtime calls this
// function when present; builds without ThreadSanitizer never do.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
  return "detect_deadlocks=0";
}
