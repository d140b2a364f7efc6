#include "SysUtils.h"

#include <sys/stat.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

char DecimalSeparator() {
    const lconv* conventions = std::localeconv();
    if (!conventions || !conventions->decimal_point || !conventions->decimal_point[0]) return '.';
    return conventions->decimal_point[0];
}

std::string FloatToStr(double value) { return FloatToStr(value, DecimalSeparator()); }

std::string FloatToStr(double value, char separator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";

    // Fifteen significant digits in scientific form give the digits and the
    // decimal exponent; the general format is then laid out from those.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 14);
    const std::string scientific(buffer, result.ptr);
    const size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, 1) + scientific.substr(2, e - 2);
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string text = value < 0 ? "-" : "";
    // The framework switches to the exponent form when the integer part
    // would need more than 15 digits or the value is below 0.0001.
    if (exponent >= 15 || exponent < -4) {
        text += digits[0];
        if (digits.size() > 1) {
            text += separator;
            text += digits.substr(1);
        }
        text += 'E';
        text += std::to_string(exponent);
        return text;
    }
    if (exponent < 0) {
        text += '0';
        text += separator;
        text += std::string(static_cast<size_t>(-exponent - 1), '0');
        text += digits;
        return text;
    }
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
        text += digits + std::string(integerDigits - digits.size(), '0');
        return text;
    }
    text += digits.substr(0, integerDigits);
    text += separator;
    text += digits.substr(integerDigits);
    return text;
}

double StrToFloatDef(const std::string& text, double Default) {
    return StrToFloatDef(text, Default, DecimalSeparator());
}

double StrToFloatDef(const std::string& text, double Default, char separator) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;

    // Rewritten with a period so that the conversion itself is independent of
    // the locale; anything outside the grammar gives the default.
    std::string plain;
    size_t i = begin;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    size_t mantissaDigits = 0;
    while (i < end && isDigit(text[i])) plain += text[i++], ++mantissaDigits;
    if (i < end && text[i] == separator) {
        plain += '.';
        ++i;
        while (i < end && isDigit(text[i])) plain += text[i++], ++mantissaDigits;
    }
    if (mantissaDigits == 0) return Default;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        size_t exponentDigits = 0;
        while (i < end && isDigit(text[i])) plain += text[i++], ++exponentDigits;
        if (exponentDigits == 0) return Default;
    }
    if (i != end) return Default;

    double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value)) return Default;
    return value;
}

std::string LowerCase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string ExtractFileExt(const std::string& fileName) {
    const size_t dot = fileName.find_last_of("./");
    if (dot == std::string::npos || fileName[dot] != '.') return {};
    return fileName.substr(dot);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
    return fileName.substr(0, fileName.size() - ExtractFileExt(fileName).size()) + extension;
}

bool FileExists(const std::string& fileName) {
    struct stat info;
    return ::stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
