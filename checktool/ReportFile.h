#pragma once

#include <string>

// Creates or truncates the report file and writes the whole text; false when
// it could not be opened, written completely or closed.
bool WriteReportFile(const std::string& path, const std::string& text);
