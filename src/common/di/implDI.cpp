#include "common/di/implDI.hpp"

#include <algorithm>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "common/di/DebugChannel.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

std::mutex gGlobalMutex;
IPlinthDIPtr gGlobal;  // guarded by gGlobalMutex (only swapped at start and end)

bool Supports(const TInterfaceQuery& q, const IInterfacePtr& p) { return p && q.supports(p.get()); }

template <class List, class Pred>
auto FindFirst(List& list, Pred pred) {
  return std::find_if(list.begin(), list.end(), pred);
}

}  // namespace

IPlinthDI& PlinthDI() {
  std::lock_guard lock(gGlobalMutex);
  if (!gGlobal) throw std::logic_error("No dependency-injection container is installed");
  return *gGlobal;
}

IPlinthDIPtr PlinthDIPtr() {
  std::lock_guard lock(gGlobalMutex);
  return gGlobal;
}

void SetPlinthDI(IPlinthDIPtr container) {
  IPlinthDIPtr previous;
  {
    std::lock_guard lock(gGlobalMutex);
    previous = std::move(gGlobal);
    gGlobal = std::move(container);
  }
  // `previous` is released here, outside the lock, so destructors may log.
}

TPlinthDI::~TPlinthDI() {
  ClearInstanceList();
  ClearNamedInstanceList();
  // Factories go with their lists. Release them last to first as well.
  while (!namedFactories_.empty()) namedFactories_.pop_back();
  while (!factories_.empty()) factories_.pop_back();
}

void TPlinthDI::ClearInstanceList() {
  // Destructors do not throw in C++, so releasing one instance cannot stop
  // the others from being released.
  while (!instances_.empty()) instances_.pop_back();
}

void TPlinthDI::ClearNamedInstanceList() {
  while (!namedInstances_.empty()) namedInstances_.pop_back();
}

void TPlinthDI::AddInstance(const TGUID& id, IInterfacePtr instance) {
  DebugChannel("[TPlinthDI.AddInstance] Add Instance : " + id.ToString());
  instances_.push_back({std::move(instance)});
}

void TPlinthDI::AddNamedInstance(const TGUID&, const std::string& name, IInterfacePtr instance) {
  namedInstances_.push_back({name, std::move(instance)});
}

bool TPlinthDI::FindInstance(const TInterfaceQuery& q, IInterfacePtr& intf) {
  auto it = FindFirst(instances_, [&](const TInstance& e) { return Supports(q, e.Instance); });
  intf = it == instances_.end() ? nullptr : it->Instance;
  return intf != nullptr;
}

bool TPlinthDI::GetInstance(const TInterfaceQuery& q, IInterfacePtr& intf) { return FindInstance(q, intf); }

bool TPlinthDI::FindNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) {
  auto it = FindFirst(namedInstances_, [&](const TNamedInstance& e) {
    return SameText(e.Name, name) && Supports(q, e.Instance);
  });
  intf = it == namedInstances_.end() ? nullptr : it->Instance;
  return intf != nullptr;
}

bool TPlinthDI::GetNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) {
  return FindNamedInstance(q, name, intf);
}

void TPlinthDI::AddFactory(const TGUID& id, IInterfacePtr factory) {
  factories_.push_back({std::move(factory), id});
}

void TPlinthDI::AddNamedFactory(const TGUID& id, const std::string& name, IInterfacePtr factory) {
  namedFactories_.push_back({name, std::move(factory), id});
}

void TPlinthDI::GetFactory(const TGUID& id, IInterfacePtr& factory) {
  auto it = FindFirst(factories_, [&](const TFactory& e) { return e.Id == id; });
  if (it != factories_.end()) factory = it->Factory;
}

bool TPlinthDI::GetInterfaceFactory(const TGUID& id, IPlinthInterfaceFactoryPtr& factory) {
  IInterfacePtr f;
  GetFactory(id, f);
  factory = std::dynamic_pointer_cast<IPlinthInterfaceFactory>(f);
  return factory != nullptr;
}

void TPlinthDI::GetNamedFactory(const TGUID& id, const std::string& name, IInterfacePtr& factory) {
  auto it = FindFirst(namedFactories_, [&](const TNamedFactory& e) { return e.Id == id && SameText(e.Name, name); });
  if (it != namedFactories_.end()) factory = it->Factory;
}

bool TPlinthDI::GetNamedInterfaceFactory(const TGUID& id, const std::string& name,
                                         IPlinthInterfaceFactoryPtr& factory) {
  IInterfacePtr f;
  GetNamedFactory(id, name, f);
  factory = std::dynamic_pointer_cast<IPlinthInterfaceFactory>(f);
  return factory != nullptr;
}

bool TPlinthDI::HasInstance(const TInterfaceQuery& q) {
  IInterfacePtr p;
  return FindInstance(q, p);
}

bool TPlinthDI::HasNamedInstance(const TInterfaceQuery& q, const std::string& name) {
  IInterfacePtr p;
  return FindNamedInstance(q, name, p);
}

bool TPlinthDI::HasFactory(const TGUID& id) {
  return std::any_of(factories_.begin(), factories_.end(), [&](const TFactory& e) { return e.Id == id; });
}

bool TPlinthDI::HasNamedFactory(const TGUID& id, const std::string& name) {
  return std::any_of(namedFactories_.begin(), namedFactories_.end(),
                     [&](const TNamedFactory& e) { return e.Id == id && SameText(e.Name, name); });
}

void TPlinthDI::GetFactoryNames(const TGUID& id, std::vector<std::string>& names) {
  for (const auto& e : namedFactories_)
    if (e.Id == id) names.push_back(e.Name);
}

void TPlinthDI::RemoveInstance(const TInterfaceQuery& q) {
  auto it = FindFirst(instances_, [&](const TInstance& e) { return Supports(q, e.Instance); });
  if (it != instances_.end()) instances_.erase(it);
}

void TPlinthDI::RemoveNamedInstance(const TInterfaceQuery& q, const std::string& name) {
  auto it = FindFirst(namedInstances_, [&](const TNamedInstance& e) {
    return SameText(e.Name, name) && Supports(q, e.Instance);
  });
  if (it != namedInstances_.end()) namedInstances_.erase(it);
}

void TPlinthDI::RemoveFactory(const TGUID& id) {
  auto it = FindFirst(factories_, [&](const TFactory& e) { return e.Id == id; });
  if (it != factories_.end()) factories_.erase(it);
}

void TPlinthDI::RemoveNamedFactory(const TGUID& id, const std::string& name) {
  auto it = FindFirst(namedFactories_, [&](const TNamedFactory& e) { return e.Id == id && SameText(e.Name, name); });
  if (it != namedFactories_.end()) namedFactories_.erase(it);
}

bool TPlinthDI::IsRegistered(const TInterfaceQuery& q) { return HasInstance(q) || HasFactory(q.id); }

bool TPlinthDI::IsNamedRegistered(const TInterfaceQuery& q, const std::string& name) {
  return HasNamedInstance(q, name) || HasNamedFactory(q.id, name);
}

bool TPlinthDI::Resolve(const TInterfaceQuery& q, IInterfacePtr& intf) { return GetInstance(q, intf); }

bool TPlinthDI::ResolveNamed(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) {
  return GetNamedInstance(q, name, intf);
}

bool TPlinthDI::Create(const IInterfacePtr& factory, const TInterfaceQuery& q, IInterfacePtr& intf) {
  intf.reset();
  auto f = std::dynamic_pointer_cast<IPlinthInterfaceFactory>(factory);
  if (!f) return false;
  IInterfacePtr created;
  f->CreateInstance(created);
  if (!Supports(q, created)) return false;  // `created` is released here
  intf = std::move(created);
  return true;
}

bool TPlinthDI::CreateInstance(const TInterfaceQuery& q, IInterfacePtr& intf) {
  IInterfacePtr factory;
  GetFactory(q.id, factory);
  return Create(factory, q, intf);
}

bool TPlinthDI::CreateNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) {
  IInterfacePtr factory;
  GetNamedFactory(q.id, name, factory);
  return Create(factory, q, intf);
}

bool TPlinthDI::NamedSingleton(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) {
  if (FindNamedInstance(q, name, intf)) return true;
  return CreateNamedInstance(q, name, intf);
}

bool TPlinthDI::Singleton(const TInterfaceQuery& q, IInterfacePtr& intf) {
  if (FindInstance(q, intf)) return true;
  if (!CreateInstance(q, intf)) return false;
  DebugChannel("[TPlinthDI.Singleton] Add Instance : " + q.id.ToString());
  AddInstance(IInterface::IID, intf);
  return true;
}

}  // namespace courio
