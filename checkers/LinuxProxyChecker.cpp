#include "checkers/LinuxProxyChecker.h"

LinuxProxyChecker::LinuxProxyChecker() = default;
LinuxProxyChecker::~LinuxProxyChecker() = default;

EmProxyCheckerState LinuxProxyChecker::Init(const pugi::xml_node& /*section*/) { return EmProxyOk; }

EmProxyCheckerState LinuxProxyChecker::Check() { return EmProxyOk; }

EmProxyCheckerState LinuxProxyChecker::Repair() { return EmProxyOk; }
