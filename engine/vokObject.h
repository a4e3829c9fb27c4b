#pragma once
// The base of the engine classes: expected failures are reported through Ok / ErrorText instead of
// exceptions, and every creator tests Ok right after construction.

#include <string>

class TvokObject {
 public:
  bool Ok = true;
  std::string ErrorText;

  void SetError(const std::string& Text) {
    Ok = false;
    ErrorText = Text;
  }
};
