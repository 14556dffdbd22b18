#pragma once
// Settings rows for tests that prepare a local store.

#include <string>

#include "common/util/Json.hpp"
#include "store/intfCourioDataStore.hpp"

namespace courio::test {

// Adds a settings row (a second row of the same name is added, not merged).
inline void AddSettingsRow(ICourioDataStore& store, const std::string& name, TJson value) {
  TSQLSettings row;
  row.Name = name;
  row.Value = std::move(value);
  store.GetORM().Add(row);
}

}  // namespace courio::test
