#include <gtest/gtest.h>

#include <string>

#include "common/util/HomeFolder.hpp"
#include "common/registry/RegFile.hpp"
#include "common/registry/implPlinthRegistry.hpp"
#include "support/TestSupport.hpp"

namespace courio::test {
namespace {

const char* const kHeader5 = "Windows Registry Editor Version 5.00\r\n\r\n";
const char* const kKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\Plinth]\r\n";

std::string Utf16Le(const std::string& utf8Ascii) {
  // Test content is ASCII plus the few escapes below; widen byte by byte,
  // except UTF-8 two-byte sequences, which are decoded.
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8Ascii.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8Ascii[i]);
    unsigned cp = c;
    if ((c & 0xE0) == 0xC0 && i + 1 < utf8Ascii.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8Ascii[++i]) & 0x3Fu);
    }
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
  }
  return out;
}

enum class Encoding { Utf8, Utf8Bom, Utf16 };

std::string Encode(const std::string& text, Encoding e) {
  switch (e) {
    case Encoding::Utf8: return text;
    case Encoding::Utf8Bom: return "\xEF\xBB\xBF" + text;
    case Encoding::Utf16: return Utf16Le(text);
  }
  return text;
}

class RegistryTest : public ::testing::TestWithParam<Encoding> {
 protected:
  TPlinthRegistry Write(const std::string& body, const char* header = kHeader5) {
    WriteFile(path, Encode(std::string(header) + body, GetParam()));
    return TPlinthRegistry(path);
  }
  TempDir dir;
  std::string path = dir.File("Plinth.reg");
};

// The same contents read alike in every encoding reg export writes.
TEST_P(RegistryTest, ReadsEveryOperationsValue) {
  auto reg = Write(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane]\r\n\"Company\"=\"Quorvane Caf\xC3\xA9\"\r\n\r\n") +
                   kKey +
                   "\"MSDE-ConnectionString\"=\"Provider=SQLOLEDB.1;Password=p\\\"w\\\\d;Data Source=POS\\\\SQLEXPRESS\"\r\n"
                   "\"MSDE-Failed\"=dword:00000001\r\n"
                   "\"Path\"=hex(2):43,00,3a,00,5c,00,50,00,6c,00,\\\r\n"
                   "  69,00,6e,00,74,00,68,00,00,00\r\n"
                   "\"LastDepartmentCode\"=\"\"\r\n"
                   "; a comment line\r\n"
                   "\"LastManufactureLocation\"=\"Kitchen 2\"\r\n");
  EXPECT_EQ(reg.GetConnectionString(), "Provider=SQLOLEDB.1;Password=p\"w\\d;Data Source=POS\\SQLEXPRESS");
  EXPECT_TRUE(reg.GetConnectionFailed());
  EXPECT_EQ(reg.GetPath(), "C:\\Plinth");
  EXPECT_EQ(reg.GetLastDepartmentCode(), "");
  EXPECT_EQ(reg.GetLastManufactureLocation(), "Kitchen 2");
  EXPECT_EQ(reg.GetCompany(), "Quorvane Caf\xC3\xA9");
}

TEST_P(RegistryTest, NamesAreCaseInsensitiveAndTheLastAssignmentWins) {
  auto reg = Write("[hkey_local_machine\\software\\QUORVANE\\plinth]\r\n"
                   "\"msde-connectionstring\"=\"first\"\r\n"
                   "\"MSDE-CONNECTIONSTRING\"=\"second\"\r\n"
                   "\"msde-failed\"=dword:0\r\n");
  EXPECT_EQ(reg.GetConnectionString(), "second");
  EXPECT_FALSE(reg.GetConnectionFailed());
}

TEST_P(RegistryTest, ReadsThe32BitViewWhenThePlainKeyIsAbsent) {
  auto reg = Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorvane\\Plinth]\r\n"
                   "\"MSDE-ConnectionString\"=\"wow\"\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorvane]\r\n"
                   "\"Company\"=\"Q\"\r\n");
  EXPECT_EQ(reg.GetConnectionString(), "wow");
  EXPECT_EQ(reg.GetCompany(), "Q");
}

TEST_P(RegistryTest, MissingKeyReadsEmptyAndFalse) {
  auto reg = Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"MSDE-ConnectionString\"=\"x\"\r\n");
  EXPECT_EQ(reg.GetConnectionString(), "");
  EXPECT_FALSE(reg.GetConnectionFailed());
  EXPECT_EQ(reg.GetCompany(), "");
}

TEST_P(RegistryTest, WrongTypesAndMissingDwordRaiseTheExactTexts) {
  auto reg = Write(std::string(kKey) + "\"MSDE-ConnectionString\"=dword:00000005\r\n"
                                       "\"Path\"=hex:01,02\r\n"
                                       "\"LastDepartmentCode\"=hex(7):41,00,00,00,00,00\r\n");
  struct Case {
    std::function<void()> call;
    std::string message;
  };
  const Case cases[] = {
      {[&] { reg.GetConnectionString(); }, "Invalid data type for 'MSDE-ConnectionString'"},
      {[&] { reg.GetPath(); }, "Invalid data type for 'Path'"},
      {[&] { reg.GetLastDepartmentCode(); }, "Invalid data type for 'LastDepartmentCode'"},
      {[&] { reg.GetConnectionFailed(); }, "Failed to get data for 'MSDE-Failed'"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  // A string where a DWORD is expected.
  auto reg2 = Write(std::string(kKey) + "\"MSDE-Failed\"=\"1\"\r\n");
  EXPECT_THROW(
      {
        try {
          reg2.GetConnectionFailed();
        } catch (const ERegistryException& e) {
          EXPECT_STREQ(e.what(), "Invalid data type for 'MSDE-Failed'");
          throw;
        }
      },
      ERegistryException);
}

TEST_P(RegistryTest, DeletionsRemoveValuesAndKeys) {
  auto reg = Write(std::string(kKey) + "\"MSDE-ConnectionString\"=\"x\"\r\n\"Path\"=\"p\"\r\n"
                                       "\"Path\"=-\r\n"
                                       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane]\r\n"
                                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane]\r\n\"Company\"=\"kept\"\r\n");
  EXPECT_EQ(reg.GetConnectionString(), "");  // the whole tree went
  EXPECT_EQ(reg.GetCompany(), "kept");
}

TEST_P(RegistryTest, Regedit4ReadsExpandStringsAsSingleBytes) {
  auto reg = Write(std::string(kKey) + "\"Path\"=hex(2):43,3a,5c,50,00\r\n\"MSDE-ConnectionString\"=\"cs\"\r\n",
                   "REGEDIT4\r\n\r\n");
  EXPECT_EQ(reg.GetPath(), "C:\\P");
  EXPECT_EQ(reg.GetConnectionString(), "cs");
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegistryTest,
                         ::testing::Values(Encoding::Utf8, Encoding::Utf8Bom, Encoding::Utf16),
                         [](const auto& info) {
                           switch (info.param) {
                             case Encoding::Utf8: return std::string("Utf8");
                             case Encoding::Utf8Bom: return std::string("Utf8Bom");
                             default: return std::string("Utf16");
                           }
                         });

// Malformed files: read up to the bad line, one warning naming file and line.
TEST(RegistryMalformed, ReadsUpToTheBadLineAndLogsItOnce) {
  struct Case {
    const char* name;
    std::string body;
    int badLine;
    bool connectionStringKept;
  };
  const std::string good = std::string(kKey) + "\"MSDE-ConnectionString\"=\"cs\"\r\n";
  const Case cases[] = {
      {"unterminated string", good + "\"Path\"=\"C:\\\\x\r\n", 5, true},
      {"garbage line", good + "this is not a registry line\r\n", 5, true},
      {"bad dword", good + "\"MSDE-Failed\"=dword:xyz\r\n", 5, true},
      {"bad hex", good + "\"Path\"=hex(2):4g,00\r\n", 5, true},
      {"continuation past the end", good + "\"Path\"=hex(2):41,00,\\\r\n", 5, true},
      {"bad key line", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\Plinth\r\n\"MSDE-ConnectionString\"=\"cs\"\r\n", 3,
       false},
      {"value before a key", "\"MSDE-ConnectionString\"=\"cs\"\r\n", 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    LogCapture log;
    std::string path = dir.File("bad.reg");
    WriteFile(path, std::string(kHeader5) + c.body);
    TPlinthRegistry reg(path);
    EXPECT_EQ(reg.GetConnectionString(), c.connectionStringKept ? "cs" : "");
    reg.GetConnectionString();  // a second read does not repeat the warning
    EXPECT_EQ(log.Count(path + " is malformed at line " + std::to_string(c.badLine)), 1u) << log.Text();
  }
}

TEST(RegistryMalformed, BinaryNoiseAndWrongHeadersNeverCrash) {
  TempDir dir;
  LogCapture log;
  std::string path = dir.File("noise.reg");
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + 13) & 0xFF);
  for (const std::string& content : {noise, std::string("\xFF\xFE"), std::string(""), std::string("REGEDIT3\r\n"),
                                     std::string("\xFF\xFE") + noise}) {
    WriteFile(path, content);
    TPlinthRegistry reg(path);
    EXPECT_EQ(reg.GetConnectionString(), "");
    EXPECT_FALSE(reg.GetConnectionFailed());
  }
  EXPECT_TRUE(log.Contains("is malformed at line"));
}

TEST(RegistryFile, MissingFileIsAMissingKeyAndTheDefaultPathFollowsTheEnvironment) {
  TempDir dir;
  TPlinthRegistry missing(dir.File("absent.reg"));
  EXPECT_EQ(missing.GetConnectionString(), "");
  EXPECT_FALSE(missing.GetConnectionFailed());

  WriteFile(dir.File("env.reg"), std::string(kHeader5) + kKey + "\"MSDE-ConnectionString\"=\"from env\"\r\n");
  setenv("COURIO_REGISTRY", dir.File("env.reg").c_str(), 1);
  TPlinthRegistry fromEnv;
  EXPECT_EQ(fromEnv.FileName(), dir.File("env.reg"));
  EXPECT_EQ(fromEnv.GetConnectionString(), "from env");
  unsetenv("COURIO_REGISTRY");

  // Without the variable: Plinth.reg in the home folder, read at every call.
  SetHomeFolder(dir.Path());
  TPlinthRegistry fromHome;
  EXPECT_EQ(fromHome.FileName(), dir.File("Plinth.reg"));
  EXPECT_EQ(fromHome.GetConnectionString(), "");
  WriteFile(dir.File("Plinth.reg"), std::string(kHeader5) + kKey + "\"MSDE-ConnectionString\"=\"from home\"\r\n");
  EXPECT_EQ(fromHome.GetConnectionString(), "from home");
  SetHomeFolder("");
}

TEST(RegistryFile, Regedit4FilesInTheAnsiCodePageAreReadAsLatin1) {
  TRegFile f = TRegFile::Parse(std::string("REGEDIT4\r\n\r\n") + kKey + "\"Path\"=\"C:\\\\Caf\xE9\"\r\n");
  const TRegValue* v = f.FindValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\Plinth", "Path");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->text, "C:\\Caf\xC3\xA9");
}

TEST(RegistryFile, Utf16SurrogatesAndEmbeddedNulsInExpandStrings) {
  // hex(2) data: "A" U+1F600 NUL "B" -> cut at the NUL.
  TRegFile f = TRegFile::Parse(std::string(kHeader5) + kKey + "\"Path\"=hex(2):41,00,3d,d8,00,de,00,00,42,00\r\n");
  const TRegValue* v = f.FindValue("HKLM\\SOFTWARE\\Quorvane\\Plinth", "path");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, TRegType::ExpandString);
  EXPECT_EQ(v->text, "A\xF0\x9F\x98\x80");
  EXPECT_EQ(f.Error().line, 0);
}

}  // namespace
}  // namespace courio::test
