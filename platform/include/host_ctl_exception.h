// The root of the host control libraries' exceptions; the configuration
// store's exceptions derive from it.
#ifndef PLATFORM_HOST_CTL_EXCEPTION_H_
#define PLATFORM_HOST_CTL_EXCEPTION_H_

#include <exception>
#include <string>

namespace HostCtl {
namespace Lib {

class HostCtlException : public std::exception {
 public:
  explicit HostCtlException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace Lib
}  // namespace HostCtl

#endif  // PLATFORM_HOST_CTL_EXCEPTION_H_
