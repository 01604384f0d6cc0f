#pragma once

#include <string>

// The compiled-in configuration document: the hosts mappings, the URL-handler
// desktop entry with its command, and the (unread) Windows registry items.
extern const std::string g_strXml;
