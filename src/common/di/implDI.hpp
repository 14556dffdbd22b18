#pragma once
// TPlinthDI: four ordered lists searched linearly, first match wins.
// Instances match by supported interface, named instances by name (ASCII
// case-insensitive) and support, factories by exact id (and name).

#include <list>
#include <memory>
#include <string>

#include "common/di/intfDI.hpp"

namespace courio {

class TPlinthDI final : public IPlinthDI {
 public:
  TPlinthDI() = default;
  ~TPlinthDI() override;
  TPlinthDI(const TPlinthDI&) = delete;
  TPlinthDI& operator=(const TPlinthDI&) = delete;

  using IPlinthDI::AddInstance;
  using IPlinthDI::AddNamedInstance;
  using IPlinthDI::CreateInstance;
  using IPlinthDI::CreateNamedInstance;
  using IPlinthDI::FindNamedInstance;
  using IPlinthDI::GetInstance;
  using IPlinthDI::NamedSingleton;
  using IPlinthDI::RemoveInstance;
  using IPlinthDI::RemoveNamedInstance;
  using IPlinthDI::Resolve;
  using IPlinthDI::Singleton;

  void AddInstance(const TGUID& id, IInterfacePtr instance) override;
  void AddNamedInstance(const TGUID& id, const std::string& name, IInterfacePtr instance) override;
  bool FindInstance(const TInterfaceQuery& q, IInterfacePtr& intf) override;
  bool GetInstance(const TInterfaceQuery& q, IInterfacePtr& intf) override;
  bool FindNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) override;
  bool GetNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) override;
  void AddFactory(const TGUID& id, IInterfacePtr factory) override;
  void AddNamedFactory(const TGUID& id, const std::string& name, IInterfacePtr factory) override;
  void GetFactory(const TGUID& id, IInterfacePtr& factory) override;
  bool GetInterfaceFactory(const TGUID& id, IPlinthInterfaceFactoryPtr& factory) override;
  void GetNamedFactory(const TGUID& id, const std::string& name, IInterfacePtr& factory) override;
  bool GetNamedInterfaceFactory(const TGUID& id, const std::string& name,
                                IPlinthInterfaceFactoryPtr& factory) override;
  bool HasInstance(const TInterfaceQuery& q) override;
  bool HasNamedInstance(const TInterfaceQuery& q, const std::string& name) override;
  bool HasFactory(const TGUID& id) override;
  bool HasNamedFactory(const TGUID& id, const std::string& name) override;
  void GetFactoryNames(const TGUID& id, std::vector<std::string>& names) override;
  void RemoveInstance(const TInterfaceQuery& q) override;
  void RemoveNamedInstance(const TInterfaceQuery& q, const std::string& name) override;
  void RemoveFactory(const TGUID& id) override;
  void RemoveNamedFactory(const TGUID& id, const std::string& name) override;
  bool IsRegistered(const TInterfaceQuery& q) override;
  bool IsNamedRegistered(const TInterfaceQuery& q, const std::string& name) override;
  bool Resolve(const TInterfaceQuery& q, IInterfacePtr& intf) override;
  bool ResolveNamed(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) override;
  bool CreateInstance(const TInterfaceQuery& q, IInterfacePtr& intf) override;
  bool CreateNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) override;
  bool NamedSingleton(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) override;
  bool Singleton(const TInterfaceQuery& q, IInterfacePtr& intf) override;

  // Release instances (and named instances) last to first.
  void ClearInstanceList();
  void ClearNamedInstanceList();

 private:
  struct TInstance { IInterfacePtr Instance; };
  struct TNamedInstance { std::string Name; IInterfacePtr Instance; };
  struct TFactory { IInterfacePtr Factory; TGUID Id; };
  struct TNamedFactory { std::string Name; IInterfacePtr Factory; TGUID Id; };

  static bool Create(const IInterfacePtr& factory, const TInterfaceQuery& q, IInterfacePtr& intf);

  std::list<TInstance> instances_;
  std::list<TNamedInstance> namedInstances_;
  std::list<TFactory> factories_;
  std::list<TNamedFactory> namedFactories_;
};

}  // namespace courio
