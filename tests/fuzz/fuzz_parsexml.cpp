// Arbitrary bytes through the message masking and the parser: no crash, no leak,
// no undefined behaviour, and the tree is always searchable and printable.
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
    (void)root->toxml(true);
    return 0;
}
