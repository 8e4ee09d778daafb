// inspect's two output forms: plain text for people, JSON for scripts.
#pragma once

#include "Examiner.h"

#include <string>

namespace pack {

std::string FormatReportText(const std::string& inputName, const UpdaterReport& report);
std::string FormatReportJson(const std::string& inputName, const UpdaterReport& report);

// A JSON string literal, quotes included.
std::string JsonString(const std::string& utf8);

}  // namespace pack
