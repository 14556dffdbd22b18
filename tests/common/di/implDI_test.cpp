#include "common/di/implDI.hpp"

#include <gtest/gtest.h>

#include "common/di/DebugChannel.hpp"
#include "common/di/clsDIFactory.hpp"

namespace courio {
namespace {

class IAlpha : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{11111111-2222-3333-4444-555555555555}");
  virtual int Value() = 0;
};
class IBeta : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}");
};
class TAlpha : public IAlpha {
 public:
  int Value() override { return 1; }
};
class TAlphaBeta : public IAlpha, public IBeta {
 public:
  int Value() override { return 2; }
};
class TBetaOnly : public IBeta {};

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetDebugSink([this](const std::string& line) { debug_.push_back(line); });
  }
  void TearDown() override { SetDebugSink(previous_); }
  TPlinthDI di_;
  std::vector<std::string> debug_;
  TDebugSink previous_;
};

TEST(GuidTest, TextFormRoundTrips) {
  EXPECT_EQ(IAlpha::IID.ToString(), "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(TGUID::Parse("{c4790c10-2245-417e-b833-73ca6d1c2b67}").ToString(),
            "{C4790C10-2245-417E-B833-73CA6D1C2B67}");
}

TEST_F(ContainerTest, CreateInstanceWithoutFactoryFailsAndEmptiesOut) {
  std::shared_ptr<IAlpha> out = std::make_shared<TAlpha>();
  EXPECT_FALSE(di_.CreateInstance(out));
  EXPECT_EQ(out, nullptr);
}

TEST_F(ContainerTest, CreateInstanceMakesANewObjectEachTimeAndSingletonSharesOne) {
  di_.AddFactory(IAlpha::IID, MakeFactory<TAlpha>());
  std::shared_ptr<IAlpha> a, b, s1, s2;
  ASSERT_TRUE(di_.CreateInstance(a));
  ASSERT_TRUE(di_.CreateInstance(b));
  EXPECT_NE(a, b);
  ASSERT_TRUE(di_.Singleton(s1));
  size_t linesAfterFirst = debug_.size();
  ASSERT_TRUE(di_.Singleton(s2));
  EXPECT_EQ(s1, s2);
  EXPECT_EQ(debug_.size(), linesAfterFirst) << "the second Singleton writes no debug line";
  ASSERT_EQ(linesAfterFirst, 2u);
  EXPECT_EQ(debug_[0], "Plinth: [TPlinthDI.Singleton] Add Instance : {11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(debug_[1], "Plinth: [TPlinthDI.AddInstance] Add Instance : {00000000-0000-0000-C000-000000000046}");
}

TEST_F(ContainerTest, SingletonReturnsAnAddedInstanceWithoutAnyFactory) {
  auto inst = std::make_shared<TAlpha>();
  di_.AddInstance<IAlpha>(inst);
  std::shared_ptr<IAlpha> out;
  ASSERT_TRUE(di_.Singleton(out));
  EXPECT_EQ(out, inst);
}

TEST_F(ContainerTest, InstanceIsFoundByAnyInterfaceItSupports) {
  auto inst = std::make_shared<TAlphaBeta>();
  di_.AddInstance<IAlpha>(inst);
  std::shared_ptr<IBeta> beta;
  ASSERT_TRUE(di_.GetInstance(beta));
  EXPECT_EQ(std::dynamic_pointer_cast<TAlphaBeta>(beta), inst);
  di_.RemoveInstance<IBeta>();
  EXPECT_FALSE(di_.HasInstance(TInterfaceQuery::For<IAlpha>()));
}

TEST_F(ContainerTest, NamedInstanceMatchesNameWithoutRegardToCaseAndNeedsSupport) {
  auto inst = std::make_shared<TAlpha>();
  di_.AddNamedInstance<IAlpha>("bbsql", inst);
  std::shared_ptr<IAlpha> out;
  EXPECT_TRUE(di_.FindNamedInstance("BBSql", out));
  EXPECT_EQ(out, inst);
  std::shared_ptr<IBeta> beta;
  EXPECT_FALSE(di_.FindNamedInstance("bbsql", beta)) << "TAlpha does not support IBeta";
  di_.RemoveNamedInstance<IAlpha>("BBSQL");
  EXPECT_FALSE(di_.FindNamedInstance("bbsql", out));
}

TEST_F(ContainerTest, NamedSingletonWithoutInstanceCreatesAFreshObjectEachCall) {
  di_.AddNamedFactory(IAlpha::IID, "plinth", MakeFactory<TAlpha>());
  std::shared_ptr<IAlpha> a, b;
  ASSERT_TRUE(di_.NamedSingleton("plinth", a));
  ASSERT_TRUE(di_.NamedSingleton("PLINTH", b));
  EXPECT_NE(a, b);
}

TEST_F(ContainerTest, FactoryNamesAppendInRegistrationOrderAndDuplicatesRemoveFirstOnly) {
  di_.AddNamedFactory(IAlpha::IID, "One", MakeFactory<TAlpha>());
  di_.AddNamedFactory(IBeta::IID, "Other", MakeFactory<TBetaOnly>());
  di_.AddNamedFactory(IAlpha::IID, "Two", MakeFactory<TAlpha>());
  di_.AddNamedFactory(IAlpha::IID, "One", MakeFactory<TAlphaBeta>());
  std::vector<std::string> names = {"existing"};
  di_.GetFactoryNames(IAlpha::IID, names);
  EXPECT_EQ(names, (std::vector<std::string>{"existing", "One", "Two", "One"}));

  di_.RemoveNamedFactory(IAlpha::IID, "one");
  names.clear();
  di_.GetFactoryNames(IAlpha::IID, names);
  EXPECT_EQ(names, (std::vector<std::string>{"Two", "One"}));
  std::shared_ptr<IAlpha> made;
  ASSERT_TRUE(di_.CreateNamedInstance("One", made));
  EXPECT_EQ(made->Value(), 2) << "the remaining 'One' is the later registration";
}

TEST_F(ContainerTest, CreatedObjectThatDoesNotSupportTheIdIsRefused) {
  di_.AddFactory(IAlpha::IID, MakeFactory<TBetaOnly>());
  std::shared_ptr<IAlpha> out;
  EXPECT_FALSE(di_.CreateInstance(out));
  EXPECT_EQ(out, nullptr);
}

TEST_F(ContainerTest, RemovingWhatIsNotThereDoesNothing) {
  di_.RemoveFactory(IAlpha::IID);
  di_.RemoveNamedFactory(IAlpha::IID, "x");
  di_.RemoveInstance<IAlpha>();
  di_.RemoveNamedInstance<IAlpha>("x");
  EXPECT_FALSE(di_.IsRegistered(TInterfaceQuery::For<IAlpha>()));
  di_.AddFactory(IAlpha::IID, MakeFactory<TAlpha>());
  EXPECT_TRUE(di_.IsRegistered(TInterfaceQuery::For<IAlpha>()));
  EXPECT_FALSE(di_.IsNamedRegistered(TInterfaceQuery::For<IAlpha>(), "x"));
}

TEST_F(ContainerTest, DestructionReleasesInstancesLastToFirst) {
  auto order = std::make_shared<std::vector<int>>();
  struct TWatched : IBeta {
    std::shared_ptr<std::vector<int>> order;
    int id = 0;
    ~TWatched() override { order->push_back(id); }
  };
  {
    TPlinthDI di;
    for (int id : {1, 2, 3}) {
      auto w = std::make_shared<TWatched>();
      w->order = order;
      w->id = id;
      di.AddInstance<IBeta>(w);
    }
  }
  EXPECT_EQ(*order, (std::vector<int>{3, 2, 1}));
}

}  // namespace
}  // namespace courio
