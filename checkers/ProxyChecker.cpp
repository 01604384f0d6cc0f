#include "checkers/ProxyChecker.h"

#include "checkers/LinuxProxyChecker.h"

ProxyChecker::ProxyChecker() = default;
ProxyChecker::~ProxyChecker() = default;

EmProxyCheckerState ProxyChecker::Init(const pugi::xml_node& /*section*/) { return EmProxyOk; }

ProxyChecker* ProxyChecker::CreateInstance() { return new LinuxProxyChecker(); }

void ProxyChecker::DestroyInstance(ProxyChecker*& checker) {
  delete checker;
  checker = nullptr;
}
