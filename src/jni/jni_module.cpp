#include "src/jni/jni_module.h"

namespace tjni {

namespace {

// The build stamp: a plain string made once and never destroyed, so that no static text is
// released after the allocator stops or while threads still run at process exit.
const std::string& timeBuild() {
  static const std::string* const text = new std::string(__DATE__ " " __TIME__);
  return *text;
}

}  // namespace

const std::string& Module::info() const {
  std::call_once(_once, [this]() {
    _text = new std::string(std::string("Name:         ") + _name + "\nVersion:      " + _version +
                            "\nDescription:  " + _description + "\nBuild at:     " + timeBuild());
  });
  return *_text;
}

}  // namespace tjni
