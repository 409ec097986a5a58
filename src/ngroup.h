// NGroup: a view that owns child views and passes drawing, moving and events to them.
#ifndef VARNIX_NGROUP_H
#define VARNIX_NGROUP_H

#include <memory>
#include <vector>

#include "nview.h"

class NGroup : public NView {
public:
    explicit NGroup(const NRect& rect) : NView(rect) {}
    ~NGroup() override;

    // Moves the children's panels along: their places are relative to the group.
    void move(int begrow, int begcol) override;
    void refresh() override;
    void setneedrefresh() override;
    // Offers the event to the children, last inserted first, until one consumes it.
    void eventhandle(NEvent* ev) override;

    // The group takes ownership of the child.
    void insert(NView* child);
    template <typename T>
    T* insert(std::unique_ptr<T> child)
    {
        T* p = child.get();
        insert(static_cast<NView*>(child.release()));
        return p;
    }
    // Takes the child out of the list without deleting it; the caller owns it again.
    void remove(NView* child);
    NView* getitembyid(const char* id);
    // Deletes the first child of that class; false when there is none.
    bool destroybyid(const char* id);
    // Centres every dialog child on a screen of rows x cols.
    void centermodals(int rows, int cols);

    const std::vector<std::unique_ptr<NView>>& getchildren() const { return children; }
    bool haschild(const NView* child) const;

protected:
    std::vector<std::unique_ptr<NView>> children; // drawing order; events go in reverse
};

#endif
