#pragma once
// Generic factories: TPlinthDIFactory<T> constructs T with its default
// constructor; TPlinthFnFactory wraps any creation function (tests use it to
// put a fake behind a registration).

#include <functional>
#include <memory>

#include "common/di/intfDI.hpp"

namespace courio {

template <class T>
class TPlinthDIFactory final : public IPlinthInterfaceFactory {
 public:
  void CreateInstance(IInterfacePtr& instance) override {
    instance = std::static_pointer_cast<IInterface>(std::make_shared<T>());
  }
};

class TPlinthFnFactory final : public IPlinthInterfaceFactory {
 public:
  explicit TPlinthFnFactory(std::function<IInterfacePtr()> create) : create_(std::move(create)) {}
  void CreateInstance(IInterfacePtr& instance) override { instance = create_(); }

 private:
  std::function<IInterfacePtr()> create_;
};

template <class T>
IInterfacePtr MakeFactory() {
  return std::make_shared<TPlinthDIFactory<T>>();
}

}  // namespace courio
