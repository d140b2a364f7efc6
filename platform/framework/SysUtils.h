// The framework's run-time basics: the exception hierarchy, printf-style
// message formatting, and locale-aware number text.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

// Base of every error the framework and the libraries above it raise.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A stream could not deliver the bytes asked for ("Stream read error").
class EReadError : public Exception {
public:
    using Exception::Exception;
};

// A stream could not take the bytes given ("Stream write error").
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

// A file could not be opened or created.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A picture file is malformed, unsupported or of an unknown kind.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// A graphic operation was asked for that the graphic cannot perform.
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};

// Text that does not convert to a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

namespace sysutils_detail {
template <class T>
decltype(auto) FormatArg(const T& value) {
    if constexpr (std::is_same_v<T, std::string>)
        return value.c_str();
    else
        return value;
}
}  // namespace sysutils_detail

// printf-style formatting (%s takes std::string or const char*, %d ints).
template <class... Args>
std::string Format(const std::string& format, const Args&... args) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), sysutils_detail::FormatArg(args)...);
    if (length <= 0) return length == 0 ? std::string() : format;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), sysutils_detail::FormatArg(args)...);
    text.resize(static_cast<size_t>(length));
    return text;
}

// The decimal separator of the user's locale (LC_NUMERIC as set by the
// program at start-up with setlocale(LC_ALL, "")).
char DecimalSeparator();

// General floating-point format: at most 15 significant digits, shortest
// form, exponent only where the plain form would need more than 15 digits,
// the locale's decimal separator. A float argument is widened first.
std::string FloatToStr(double value);
// The same with a given decimal separator.
std::string FloatToStr(double value, char separator);

// Reads text as a number in the user's locale: optional blanks around it,
// an optional sign, digits with the locale's decimal separator and an
// optional exponent. Anything else gives Default.
double StrToFloatDef(const std::string& text, double Default);
double StrToFloatDef(const std::string& text, double Default, char separator);

// Lower-cases ASCII letters, leaving every other byte as it is.
std::string LowerCase(const std::string& text);

// The extension of a file name with its leading period (".tga"), or "".
std::string ExtractFileExt(const std::string& fileName);
// The file name with its extension replaced by extension (which carries its
// period, ".pal"), or appended when the name has none.
std::string ChangeFileExt(const std::string& fileName, const std::string& extension);

bool FileExists(const std::string& fileName);
