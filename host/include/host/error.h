// The runtime's one error type: what operation failed, why, and with which arguments.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace host {

class Error : public std::runtime_error {
  public:
    Error(std::string operation, std::string description, std::vector<std::string> args = {});

    const std::string& operation() const noexcept { return operation_; }
    const std::string& description() const noexcept { return description_; }
    const std::vector<std::string>& args() const noexcept { return args_; }

  private:
    std::string operation_;
    std::string description_;
    std::vector<std::string> args_;
};

} // namespace host
