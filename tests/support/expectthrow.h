// SPDX-License-Identifier: GPL-2.0-or-later
// EXPECT_THROW_MSG(statement, ExceptionType, text): the statement must throw
// an exception of exactly ExceptionType (not a subclass) whose what() equals
// text. Failures show both texts with tabs, line feeds and other control
// bytes made visible.
#pragma once

#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>

namespace ZRTest {

inline std::string visibleText(const std::string& text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\t') {
            shown += "\\t";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\\' || c == '"') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

inline std::string typeName(const std::type_info& type)
{
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string result = status == 0 && name != nullptr ? name : type.name();
    std::free(name);
    return result;
}

template <typename Expected, typename Statement>
::testing::AssertionResult throwsWithText(Statement&& statement, const std::string& expected)
{
    try {
        statement();
    } catch (const std::exception& error) {
        if (typeid(error) != typeid(Expected))
            return ::testing::AssertionFailure()
                   << "threw " << typeName(typeid(error)) << " (\"" << visibleText(error.what())
                   << "\"), expected " << typeName(typeid(Expected));
        if (expected != error.what())
            return ::testing::AssertionFailure() << "text  \"" << visibleText(error.what()) << "\"\nwanted \""
                                                 << visibleText(expected) << "\"";
        return ::testing::AssertionSuccess();
    } catch (...) {
        return ::testing::AssertionFailure() << "threw something that is not a std::exception";
    }
    return ::testing::AssertionFailure() << "threw nothing, expected " << typeName(typeid(Expected));
}

// The exception of type Expected (or derived) that `statement` throws, for
// checks beyond its text; a test failure and null when it throws none.
template <typename Expected, typename Statement>
std::unique_ptr<Expected> caught(Statement&& statement)
{
    try {
        statement();
    } catch (const Expected& error) {
        return std::unique_ptr<Expected>(new Expected(error));
    }
    ADD_FAILURE() << "threw nothing, expected " << typeName(typeid(Expected));
    return nullptr;
}

}  // namespace ZRTest

#define EXPECT_THROW_MSG(statement, ExceptionType, text)                                           \
    EXPECT_TRUE(::ZRTest::throwsWithText<ExceptionType>([&] { statement; }, text)) << "statement:" \
                                                                                      " " #statement
