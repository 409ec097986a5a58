// Item: the element tree that holds every client reply and the configuration.
#ifndef VARNIX_ITEM_H
#define VARNIX_ITEM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Item {
public:
    explicit Item(std::string name = std::string());
    virtual ~Item();
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    const std::string& getname() const { return *name_; }
    const std::string& value() const { return value_; }
    int intvalue() const;
    double doublevalue() const;
    void setintvalue(int v);
    void setvalue(const std::string& v) { value_ = v; }

    Item* getparent() const { return parent_; }
    const std::vector<std::unique_ptr<Item>>& getchildren() const { return children_; }

    // Takes ownership; returns the raw pointer for convenience.
    Item* addchild(std::unique_ptr<Item> child);
    Item* addchild(Item* child) { return addchild(std::unique_ptr<Item>(child)); }
    // Destroys `child` when it is a direct child; otherwise does nothing.
    void removechild(Item* child);
    // Destroys the first `count` children (all of them when there are fewer).
    void removefirstchildren(size_t count);
    // Destroys every direct child for which `drop` is true, in one pass.
    template <typename Pred>
    void removechildrenif(Pred drop)
    {
        std::vector<std::unique_ptr<Item>> kept;
        kept.reserve(children_.size());
        for (auto& c : children_)
            if (!drop(static_cast<const Item*>(c.get())))
                kept.push_back(std::move(c));
        children_.swap(kept);
    }

    // Pre-order depth-first search that includes this element itself.
    Item* find(const std::string& name) const;
    // The first direct child with that name, or null.
    Item* child(std::string_view name) const;
    // Direct children with that name (all of them for an empty name).
    std::vector<Item*> children(const std::string& name) const;
    std::string path() const;
    // Moves the other element's children to the end of ours when both have the same path.
    void merge(Item* other);
    std::string toxml() const;
    // The same text with names escaped and values quoted to read back unchanged.
    std::string toxml(bool escape) const;

private:
    friend struct ItemParse;
    struct SharedName {};
    // An element whose name is a spelling of the shared name table.
    Item(const std::string* shared, SharedName) : name_(shared) {}

    // Pre-order search below `parent`, recursing at most `levels` deep before it goes on
    // with finddeep; neither looks at the element itself.
    static const Item* findbelow(const Item* parent, const std::string& name, int levels);
    const Item* finddeep(const std::string& name) const;

    // Names recur in every reply: each spelling is kept once in a table for the whole
    // process, and elements point to it. Only names that come after the table is full
    // are kept by their element (ownname_).
    const std::string* name_;
    std::unique_ptr<std::string> ownname_;
    std::string value_;
    std::vector<std::unique_ptr<Item>> children_;
    Item* parent_ = nullptr;
};

// Deepest nesting the parser builds; deeper documents are cut there with an error.
constexpr int kMaxItemDepth = 1000;

// Builds a tree from XML text. Never returns null; `errortext` is set only on failure.
// A document of more than `maxitems` elements is cut there with an error.
std::unique_ptr<Item> parsexml(const char* text, size_t len, std::string& errortext,
                               size_t maxitems = SIZE_MAX);

// The same for a text the caller owns and no longer needs: the text is changed on the
// way, which spares a copy of a large reply. Line ends on their own are taken for the
// indentation of pretty-printed XML and dropped, unless keeplineends is set (for texts
// whose lines matter, as in a notice's description).
std::unique_ptr<Item> parsexmlinplace(std::string& text, std::string& errortext,
                                      size_t maxitems = SIZE_MAX, bool keeplineends = false);

// Where a cut of `text` to at most `n` bytes may go: n, or up to three bytes less, so
// that the cut does not fall inside a UTF-8 character; the whole length when it is shorter.
size_t utf8cut(const std::string& text, size_t n);

// Turns '<' and '>' inside every <body>...</body> into blanks so bodies parse as plain text.
char* maskbodymarkup(char* text, size_t len);

// Doubles from the client truncated toward zero; out-of-range values are clamped,
// so hostile numbers never reach an undefined conversion.
int64_t secondsfromdouble(double d);
uint64_t bytesfromdouble(double d);

// Escapes &, < and > so a value can be written into XML text.
std::string xmlescape(const std::string& s);
// Quotes a value so that parsexml reads it back unchanged: entities where they do,
// a CDATA section where blanks next to markup characters would otherwise be dropped.
std::string xmlquote(const std::string& s);

#endif
