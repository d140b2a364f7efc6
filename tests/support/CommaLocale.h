// A locale whose decimal separator is a comma, for the tests of the
// locale-dependent number formatting: the system's de_DE.UTF-8 where it is
// generated, else one compiled by localedef (from the locales package's
// sources) into a folder of the test's that LOCPATH then names.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

inline bool UseCommaLocale(const std::filesystem::path& folder) {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return true;
    const std::filesystem::path target = folder / "de_DE.UTF-8";
    // localedef exits non-zero for mere warnings, so the folder tells.
    const std::string command = "localedef -i de_DE -f UTF-8 '" + target.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 && !std::filesystem::exists(target)) return false;
    setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}
