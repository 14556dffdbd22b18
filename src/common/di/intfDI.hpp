#pragma once
// Folder common/di: the dependency-injection container, the interface base, generic factories and
// the debug channel.
// May use: common/util. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// The dependency-injection container: factories and shared instances found by
// interface id (and optionally a name). Operations keep their classic names;
// the template front supplies the id and the type together, e.g.
//   std::shared_ptr<ICourioBackend> backend;
//   PlinthDI().CreateInstance(backend);
//
// Thread-safety: the container has no lock. Registrations change only at
// process start and end and in the backend's Initialise/Finalise; while the
// service runs worker threads only read it.

#include <memory>
#include <string>
#include <vector>

#include "common/di/intfInterface.hpp"

namespace courio {

// The interface asked for: its id and how to test an object for support.
struct TInterfaceQuery {
  TGUID id;
  bool (*supports)(const IInterface* object);

  template <class I>
  static TInterfaceQuery For() {
    return {I::IID, [](const IInterface* o) { return dynamic_cast<const I*>(o) != nullptr; }};
  }
};

class IPlinthInterfaceFactory : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{5C0E8EF1-24C4-4E5E-89D8-CB1B423A164C}");
  // Constructs a new component object.
  virtual void CreateInstance(IInterfacePtr& instance) = 0;
};
using IPlinthInterfaceFactoryPtr = std::shared_ptr<IPlinthInterfaceFactory>;

class IPlinthDI : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{7B5AFC5A-A0B4-4177-9FDA-6651A65E99A4}");

  virtual void AddInstance(const TGUID& id, IInterfacePtr instance) = 0;
  virtual void AddNamedInstance(const TGUID& id, const std::string& name, IInterfacePtr instance) = 0;
  virtual bool FindInstance(const TInterfaceQuery& q, IInterfacePtr& intf) = 0;
  virtual bool GetInstance(const TInterfaceQuery& q, IInterfacePtr& intf) = 0;
  virtual bool FindNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) = 0;
  virtual bool GetNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) = 0;
  virtual void AddFactory(const TGUID& id, IInterfacePtr factory) = 0;
  virtual void AddNamedFactory(const TGUID& id, const std::string& name, IInterfacePtr factory) = 0;
  virtual void GetFactory(const TGUID& id, IInterfacePtr& factory) = 0;
  virtual bool GetInterfaceFactory(const TGUID& id, IPlinthInterfaceFactoryPtr& factory) = 0;
  virtual void GetNamedFactory(const TGUID& id, const std::string& name, IInterfacePtr& factory) = 0;
  virtual bool GetNamedInterfaceFactory(const TGUID& id, const std::string& name,
                                        IPlinthInterfaceFactoryPtr& factory) = 0;
  virtual bool HasInstance(const TInterfaceQuery& q) = 0;
  virtual bool HasNamedInstance(const TInterfaceQuery& q, const std::string& name) = 0;
  virtual bool HasFactory(const TGUID& id) = 0;
  virtual bool HasNamedFactory(const TGUID& id, const std::string& name) = 0;
  // Appends (does not clear) the names of the named factories for `id`.
  virtual void GetFactoryNames(const TGUID& id, std::vector<std::string>& names) = 0;
  virtual void RemoveInstance(const TInterfaceQuery& q) = 0;
  virtual void RemoveNamedInstance(const TInterfaceQuery& q, const std::string& name) = 0;
  virtual void RemoveFactory(const TGUID& id) = 0;
  virtual void RemoveNamedFactory(const TGUID& id, const std::string& name) = 0;
  virtual bool IsRegistered(const TInterfaceQuery& q) = 0;
  virtual bool IsNamedRegistered(const TInterfaceQuery& q, const std::string& name) = 0;
  virtual bool Resolve(const TInterfaceQuery& q, IInterfacePtr& intf) = 0;
  virtual bool ResolveNamed(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) = 0;
  virtual bool CreateInstance(const TInterfaceQuery& q, IInterfacePtr& intf) = 0;
  virtual bool CreateNamedInstance(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) = 0;
  virtual bool NamedSingleton(const TInterfaceQuery& q, const std::string& name, IInterfacePtr& intf) = 0;
  virtual bool Singleton(const TInterfaceQuery& q, IInterfacePtr& intf) = 0;

  // Typed front: the interface type supplies the id.
  template <class I>
  bool CreateInstance(std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return CreateInstance(TInterfaceQuery::For<I>(), p); });
  }
  template <class I>
  bool CreateNamedInstance(const std::string& name, std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return CreateNamedInstance(TInterfaceQuery::For<I>(), name, p); });
  }
  template <class I>
  bool GetInstance(std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return GetInstance(TInterfaceQuery::For<I>(), p); });
  }
  template <class I>
  bool Resolve(std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return Resolve(TInterfaceQuery::For<I>(), p); });
  }
  template <class I>
  bool FindNamedInstance(const std::string& name, std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return FindNamedInstance(TInterfaceQuery::For<I>(), name, p); });
  }
  template <class I>
  bool Singleton(std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return Singleton(TInterfaceQuery::For<I>(), p); });
  }
  template <class I>
  bool NamedSingleton(const std::string& name, std::shared_ptr<I>& out) {
    return Typed<I>(out, [&](IInterfacePtr& p) { return NamedSingleton(TInterfaceQuery::For<I>(), name, p); });
  }
  template <class I>
  void AddInstance(std::shared_ptr<I> instance) {
    AddInstance(I::IID, std::dynamic_pointer_cast<IInterface>(instance));
  }
  template <class I>
  void AddNamedInstance(const std::string& name, std::shared_ptr<I> instance) {
    AddNamedInstance(I::IID, name, std::dynamic_pointer_cast<IInterface>(instance));
  }
  template <class I>
  void RemoveInstance() { RemoveInstance(TInterfaceQuery::For<I>()); }
  template <class I>
  void RemoveNamedInstance(const std::string& name) { RemoveNamedInstance(TInterfaceQuery::For<I>(), name); }

 private:
  template <class I, class F>
  static bool Typed(std::shared_ptr<I>& out, F&& lookup) {
    IInterfacePtr p;
    out.reset();
    if (!lookup(p)) return false;
    out = std::dynamic_pointer_cast<I>(p);
    return out != nullptr;
  }
};
using IPlinthDIPtr = std::shared_ptr<IPlinthDI>;

// The process-wide container. Throws std::logic_error when none is set.
IPlinthDI& PlinthDI();
IPlinthDIPtr PlinthDIPtr();
// Installs (or, with nullptr, releases) the process-wide container. The
// composition root does this at start and end; tests install their own.
void SetPlinthDI(IPlinthDIPtr container);

}  // namespace courio
