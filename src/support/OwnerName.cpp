#include "support/OwnerName.h"

#include <utility>

namespace wex {

namespace {

thread_local std::string tOwnerName;

}  // namespace

const std::string& OwnerName::current() {
  return tOwnerName;
}

OwnerName::Scope::Scope(std::string name) : previous_(std::exchange(tOwnerName, std::move(name))) {}

OwnerName::Scope::~Scope() {
  tOwnerName = std::move(previous_);
}

}  // namespace wex
