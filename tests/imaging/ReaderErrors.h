// Table-driven failure tests of a reader: a named file maker and the
// message its load must raise.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "GraphicFormats.h"
#include "ImageFiles.h"

namespace imagefiles {

struct HostileCase {
    const char* name;
    std::function<Bytes()> make;
    const char* message;
};

// The message of the error a reader raised for the file; empty when it loaded.
template <class Reader>
std::string LoadError(const Bytes& file) {
    TMemoryStream stream(file.data(), file.size());
    Reader reader;
    try {
        reader.LoadFromStream(stream);
    } catch (const Exception& error) {
        return error.what();
    }
    return "";
}

inline std::string HostileCaseName(const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; }

}  // namespace imagefiles
