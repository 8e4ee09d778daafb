// inspect's two output forms: plain text for people, JSON for scripts.
#pragma once

#include "Examiner.h"

#include <string>

namespace pack {

std::string FormatReportText(const std::string& inputName, const UpdaterReport& report);
std::string FormatReportJson(const std::string& inputName, const UpdaterReport& report);

// The stub's version resource: "file 1.0.0.0, product 1.0.0.0" or "none"; in JSON an object
// with both, or null.
std::string VersionText(const VersionResource& version);
std::string VersionJson(const VersionResource& version);

// A JSON string literal, quotes included.
std::string JsonString(const std::string& utf8);

}  // namespace pack
