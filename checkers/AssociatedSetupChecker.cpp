#include "checkers/AssociatedSetupChecker.h"

#include "checkers/LinuxAssociatedSetupChecker.h"

AssociatedSetupChecker::AssociatedSetupChecker() = default;
AssociatedSetupChecker::~AssociatedSetupChecker() = default;

AssociatedSetupChecker* AssociatedSetupChecker::CreateInstance() {
  return new LinuxAssociatedSetupChecker();
}

void AssociatedSetupChecker::DestroyInstance(AssociatedSetupChecker*& checker) {
  delete checker;
  checker = nullptr;
}
