// Parses the XML text of a test; a text the parser refuses fails the test.
#ifndef VARNIX_TESTS_PARSETEXT_H
#define VARNIX_TESTS_PARSETEXT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "item.h"

inline std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    auto tree = parsexml(text.data(), text.size(), err);
    EXPECT_EQ(err, "") << text;
    return tree;
}

#endif
