// Arbitrary bytes through the message masking and the parser: no crash, no leak,
// no undefined behaviour, the tree is always searchable and printable, and reading the
// text in place gives the same tree and error as reading a copy.
#include <cstddef>
#include <cstdint>
#include <string>

#include "item.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    maskbodymarkup(&text[0], text.size());
    std::string err;
    auto root = parsexml(text.data(), text.size(), err);
    if (!root)
        __builtin_trap();
    Item* msgs = root->find("msgs");
    if (msgs)
        for (Item* m : msgs->children("msg"))
            (void)m->path();
    const std::string printed = root->toxml(true);
    std::string inplaceerr;
    auto inplace = parsexmlinplace(text, inplaceerr);
    if (inplace->toxml(true) != printed || inplaceerr != err)
        __builtin_trap();
    return 0;
}
