#pragma once
// The error of every file that the engine reads or writes.

#include <stdexcept>
#include <string>
#include <utility>

namespace osc {

// A file that cannot be read or written. what() is the text that names the file ("Cannot create
// file PATH"); reason() the system's reason ("Permission denied"), empty when there is none;
// message() both, "Cannot create file PATH: Permission denied".
class FileError : public std::runtime_error {
  public:
    FileError(const std::string& text, std::string reason)
        : std::runtime_error(text), reason_(std::move(reason)) {}
    const std::string& reason() const { return reason_; }
    std::string message() const { return reason_.empty() ? what() : what() + (": " + reason_); }

  private:
    std::string reason_;
};

}  // namespace osc
