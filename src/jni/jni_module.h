// The process-wide state of a binding module (SornX, TessiX): its log level with the level
// tests of its callers, and its information text with the library's build stamp.
//
// A Module is meant to be one object at namespace scope: its constructor is constexpr, so it
// is ready before any code runs and needs no start. info() builds the text on first use and
// never destroys it (it outlives the pooled allocator and the process exit); the reference
// stays valid for the life of the process.
// Threads: every member may be called from any thread. The level is one atomic word; info()
// is built once under std::call_once.
#ifndef TOKA_SRC_JNI_JNI_MODULE_H
#define TOKA_SRC_JNI_JNI_MODULE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tjni {

class Module {
 public:
  // name, version and description are static texts.
  constexpr Module(const char* name, const char* version, const char* description) noexcept
      : _name(name), _version(version), _description(description) {}

  void setLogLevel(int level) noexcept { _level.exchange(level); }  // any value is accepted
  int logLevel() const noexcept { return _level.load(); }

  // The level tests: errors, information lines, debug dumps.
  bool errOn() const noexcept { return logLevel() > 1; }
  bool infOn() const noexcept { return logLevel() > 3; }
  bool dbgOn() const noexcept { return logLevel() > 4; }

  // "Name:         <name>\nVersion:      <version>\nDescription:  <description>\n"
  // "Build at:     <date> <time>" (the build stamp of this helper layer).
  const std::string& info() const;

 private:
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  std::atomic<int32_t> _level{0};
  const char* _name;
  const char* _version;
  const char* _description;
  mutable std::once_flag _once;
  mutable const std::string* _text = nullptr;  // made once, never deleted
};

}  // namespace tjni

#endif  // TOKA_SRC_JNI_JNI_MODULE_H
